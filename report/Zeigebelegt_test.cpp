#include "report/Zeigebelegt.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <map>

#include "report/DruckEngineFastReport.h"
#include "report/engine/Layout.h"
#include "report/engine/TextMeasure.h"

namespace tarvo::report {
namespace {

TEST(SeatMapDefinition, FindsSeatsByTheirKeyLine) {
  const SeatMapDefinition def(
      "\"TXT=9\"^X=1^Y=1\r\n"          // the first line is never a seat
      "\"TXT=1\"^X=120^Y=80^W=32\r\n"
      "\"TXT=1~A\"^ X=160 ^ Y=81\n"    // "~" is the blank of the number; blanks separate items
      "\"TXT=2\"^X=10^Y=20\r"
      "\"TXT=2\"^X=30^Y=40\r\n"        // a later line overrides
      "\"TXT=3\"^X=50^Y=60\r\n"
      "\"TXT=3\"^X=5x^Y=70\r\n"        // X no integer: the earlier values stay
      "\"TXT=4\"^x=7^y=8\r\n"          // item names without regard to case
      "TXT=5^X=1^Y=1\r\n"              // the key must be quoted
      "\"TXT=6\"\r\n");                // no "^": no key
  struct Case {
    std::string nr;
    bool found;
    int x, y;
  } cases[] = {{"1", true, 120, 80}, {"1 A", true, 160, 81}, {"2", true, 30, 40}, {"3", true, 50, 60},
               {"4", true, 7, 8},    {"9", false, -1, -1},   {"5", false, -1, -1}, {"6", false, -1, -1},
               {"7", false, -1, -1}};
  for (const auto& c : cases) {
    int x = 0, y = 0;
    EXPECT_EQ(def.Position(c.nr, x, y), c.found) << c.nr;
    if (c.found) {
      EXPECT_EQ(x, c.x) << c.nr;
      EXPECT_EQ(y, c.y) << c.nr;
    }
  }
}

std::string Jpeg(int w, int h, QColor color) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(color);
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPEG", 95);
  return bytes.toStdString();
}

std::string Png(int w, int h, QColor color) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(color);
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return bytes.toStdString();
}

class Rows : public IDataProvider {
 public:
  std::map<std::string, Table> tables;
  Table Query(const std::string& sql, const std::vector<BoundParam>&) override { return tables.at(sql); }
};

bool Near(QColor a, QColor b, int tolerance = 40) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

class ZeigebelegtInReport : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGuiApplication();
    Table geraet;
    geraet.columns = {"NAME", "BILD", "DEFINITION"};
    geraet.rows.push_back({Value("Bus"), Value(Bytes{Jpeg(400, 200, QColor(128, 128, 128))}),
                           Value("[Bus]\r\n\"TXT=1\"^X=50^Y=50\r\n\"TXT=2\"^X=150^Y=50\r\n\"TXT=3\"^X=250^Y=150")});
    geraet.rows.push_back({Value("Kleinbus"), Value(Bytes{Png(400, 200, QColor(128, 128, 128))}),
                           Value("[Kleinbus]\r\n\"TXT=1\"^X=50^Y=50")});
    data.tables["geraet"] = geraet;
    Table belegt;
    belegt.columns = {"PLATZNUMMER", "GAST"};
    belegt.rows = {{Value("1"), Value("Berg")}, {Value(" "), Value("ohne Nummer")}, {Value("2"), Value("Lind")},
                   {Value("99"), Value("nicht im Plan")}};
    data.tables["belegt"] = belegt;
  }

  // One master band per seat map record: the picture, then the text that
  // calls Zeigebelegt. Returns the prepared pictures in order.
  std::vector<QImage> Run(const std::string& call, const std::string& pictureAttrs = "") {
    form.FastReport() = ReadTemplate(R"(<report name="Sitzplan">
      <dataset name="Geraet" sql="geraet"/><dataset name="Belegt" sql="belegt"/>
      <page><band type="masterdata" dataset="Geraet" height="60">
        <picture name="Plan" width="100" height="50" source="Geraet.BILD")" + pictureAttrs + R"(/>
        <text name="Markierung" top="52" width="100" height="6"><![CDATA[)" + call + R"(]]></text>
      </band></page></report>)",
                                     nullptr);
    ReportEngine engine(form.FastReport(), data, form.fs(), &form.Functions());
    engine.Prepare();
    std::vector<QImage> images;
    texts.clear();
    for (const auto& page : engine.Prepared().pages)
      for (const auto& item : page.items) {
        if (item.kind == PreparedItem::Kind::Image) images.push_back(item.image);
        if (item.kind == PreparedItem::Kind::TextRun) texts.push_back(item.text);
      }
    return images;
  }

  TDruckEngineFastReportForm form;
  Rows data;
  std::vector<std::string> texts;
};

TEST_F(ZeigebelegtInReport, MarksOccupiedSeatsWithRedNumberedSquares) {
  const auto images = Run("[Zeigebelegt('Plan', Geraet.DEFINITION, 'Belegt')]");
  ASSERT_EQ(images.size(), 2u);
  const QImage& bus = images[0];
  ASSERT_EQ(bus.size(), QSize(400, 200));
  const QColor red(255, 0, 0), gray(128, 128, 128);
  // Seats 1 and 2 are occupied: a red square of 32 pixels around each.
  for (QPoint seat : {QPoint(50, 50), QPoint(150, 50)}) {
    EXPECT_TRUE(Near(bus.pixelColor(seat + QPoint(-14, -14)), red)) << seat.x();
    EXPECT_TRUE(Near(bus.pixelColor(seat + QPoint(14, 13)), red)) << seat.x();
    EXPECT_EQ(bus.pixelColor(seat + QPoint(-16, 0)), QColor(Qt::black)) << "outline of " << seat.x();
    EXPECT_TRUE(Near(bus.pixelColor(seat + QPoint(-18, 0)), gray)) << seat.x();
    int white = 0;  // the seat number is written in white inside
    for (int dy = -8; dy <= 8; ++dy)
      for (int dx = -8; dx <= 8; ++dx)
        if (Near(bus.pixelColor(seat + QPoint(dx, dy)), Qt::white, 60)) ++white;
    EXPECT_GT(white, 5) << seat.x();
  }
  EXPECT_TRUE(Near(bus.pixelColor(250, 150), gray)) << "seat 3 is free";
  // The second map is a PNG, not a JPEG: left as it is.
  EXPECT_TRUE(Near(images[1].pixelColor(50, 50), gray));
  EXPECT_TRUE(texts.empty()) << texts.front();
}

TEST_F(ZeigebelegtInReport, LabelsFromTheTaggedFieldBesideOrOverTheSeat) {
  auto black = [](const QImage& img, QRect r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (Near(img.pixelColor(x, y), Qt::black, 70)) ++n;
    return n;
  };
  // Labels beside the seat: no square, black text right of the seat.
  auto beside = Run("[Zeigebelegt('Plan', Geraet.DEFINITION, 'Belegt', '1')]", R"( tag="GAST")");
  ASSERT_FALSE(beside.empty());
  EXPECT_TRUE(Near(beside[0].pixelColor(50, 50), QColor(128, 128, 128)));
  EXPECT_GT(black(beside[0], QRect(62, 44, 108, 20)), 10);

  // "0": a white box covers the seat and holds the label.
  auto over = Run("[Zeigebelegt('Plan', Geraet.DEFINITION, 'Belegt', '0')]", R"( tag="GAST")");
  ASSERT_FALSE(over.empty());
  EXPECT_TRUE(Near(over[0].pixelColor(40, 78), Qt::white, 10));
  EXPECT_TRUE(Near(over[0].pixelColor(150 + 110, 50 + 35), Qt::white, 10));
  EXPECT_GT(black(over[0], QRect(38, 44, 127, 20)), 10);
  EXPECT_TRUE(Near(over[0].pixelColor(250, 150), QColor(128, 128, 128)));
}

TEST_F(ZeigebelegtInReport, TargetsThatAreNoPicture) {
  Run("[Zeigebelegt('Markierung', Geraet.DEFINITION, 'Belegt')]");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "Kein g\xC3\xBCltiges Ziel: Markierung");

  // No such object, no such data set, empty definition: nothing happens.
  for (const char* call : {"[Zeigebelegt('Fehlt', Geraet.DEFINITION, 'Belegt')]",
                           "[Zeigebelegt('Plan', Geraet.DEFINITION, 'Fehlt')]", "[Zeigebelegt('Plan', ' ', 'Belegt')]"}) {
    auto images = Run(call);
    ASSERT_EQ(images.size(), 2u) << call;
    EXPECT_TRUE(Near(images[0].pixelColor(50, 50), QColor(128, 128, 128))) << call;
    EXPECT_TRUE(texts.empty()) << call;
  }
}

TEST(DrawOccupiedSeats, CoveringLabelSwitchesTheOutlineOffForLaterSquares) {
  EnsureGuiApplication();
  QImage img(300, 100, QImage::Format_RGB32);
  img.fill(QColor(0, 0, 255));
  const SeatMapDefinition def("x\n\"TXT=1\"^X=30^Y=30\n\"TXT=2\"^X=250^Y=30\n\"TXT=3\"^X=250^Y=80");
  DrawOccupiedSeats(img, def, {{"1", ""}, {"2", "Gast"}, {"3", ""}}, "0");
  EXPECT_EQ(img.pixelColor(30 - 16, 30), QColor(Qt::black));  // before the label box: outlined
  EXPECT_EQ(img.pixelColor(250 - 16, 80 + 10), QColor(255, 0, 0));  // after it: red up to the edge
}

}  // namespace
}  // namespace tarvo::report
