// The RTF, CSV, JPEG, HTML and HTM exports of one prepared two-page report,
// read back with independent readers (unrtf, Python's csv and html.parser,
// Qt's JPEG decoder).
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "report/engine/Export.h"
#include "report/engine/ExportCsv.h"
#include "report/engine/ExportRtf.h"
#include "report/engine/Layout.h"
#include "report/engine/TextMeasure.h"
#include "report/testing/ReportTestSupport.h"

namespace tarvo::report {
namespace {

namespace fs = std::filesystem;

using reporttest::Check;
using reporttest::ReadFile;
using reporttest::Shell;

// True when `words` occur in `text` in this order.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& words) {
  return reporttest::InOrder(text, words, 3000);
}

std::string PngBase64(int w, int h, QColor c) {
  return QByteArray::fromStdString(reporttest::SolidImage(w, h, c, "PNG")).toBase64().toStdString();
}

class Rows : public IDataProvider {
 public:
  Table Query(const std::string&, const std::vector<BoundParam>&) override {
    Table t;
    t.columns = {"POS", "TEXT", "BETRAG"};
    for (int i = 1; i <= 40; ++i)
      t.rows.push_back({Value(i), Value(i == 2 ? std::string("Zimmer; \"Meerblick\"") : "Leistung " + std::to_string(i)),
                        Value(i * 1.5)});
    return t;
  }
};

class ExportFormats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EnsureGuiApplication();
    def_ = new ReportDef(ReadTemplate(R"(<report name="Probe">
      <dataset name="D" sql="x"/>
      <page size="A4" margin="15">
        <band type="pageheader" height="20">
          <text width="120" height="9" size="14" style="bold">Buchungsbestätigung für Jürgen</text>
          <picture name="Logo" left="150" width="30" height="15">)" + PngBase64(60, 30, QColor(0x1f, 0x4e, 0x79)) +
                                       R"(</picture>
        </band>
        <band type="masterdata" dataset="D" height="7">
          <rect left="0" width="180" height="7" fill="#eef3f8" frame="bottom"/>
          <text left="0" width="15" height="6">[D.POS]</text>
          <text left="20" width="100" height="6">[D.TEXT]</text>
          <text left="140" width="40" height="6" align="right" format="currency:2">[D.BETRAG]</text>
          <line left="0" top="6.8" width="180" height="0"/>
        </band>
        <band type="pagefooter" height="8"><text width="180" height="6" align="right">Seite [PAGE] von [TOTALPAGES]</text></band>
      </page></report>)",
                                      nullptr));
    static Rows data;
    static const FormatSettings fs = FormatSettings::German();
    engine_ = new ReportEngine(*def_, data, fs, nullptr);
    ASSERT_TRUE(engine_->Prepare());
    ASSERT_EQ(engine_->Prepared().pages.size(), 2u);
    dir_ = fs::temp_directory_path() / ("exportformats-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  static void TearDownTestSuite() {
    delete engine_;
    delete def_;
    if (!std::getenv("KEEP_EXPORTS")) fs::remove_all(dir_);
  }

  static fs::path Export(const std::string& format) {
    const fs::path file = dir_ / ("probe." + format);
    auto exporter = ExporterFor(format);
    EXPECT_TRUE(exporter) << format;
    if (exporter) exporter->Export(engine_->Prepared(), file.string(), DocumentInfo{"Probe", "A", "S", "FastReport"});
    return file;
  }

  // The words of the report as they follow each other over both pages.
  static std::vector<std::string> Words() {
    return {"Buchungsbestätigung für Jürgen", "Leistung 1", "Meerblick", "Leistung 3", "4,50 €", "Seite 1 von 2",
            "Buchungsbestätigung für Jürgen", "Leistung 40", "60,00 €", "Seite 2 von 2"};
  }

  static ReportDef* def_;
  static ReportEngine* engine_;
  static fs::path dir_;
};
ReportDef* ExportFormats::def_ = nullptr;
ReportEngine* ExportFormats::engine_ = nullptr;
fs::path ExportFormats::dir_;

TEST_F(ExportFormats, RtfReadsBackAsTheReportsWordsInOrderWithPngPicturesAndPagePositions) {
  const fs::path file = Export("rtf");
  const std::string rtf = ReadFile(file);
  ASSERT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
  const nlohmann::json r = Check("rtf", file);
  EXPECT_TRUE(InOrder(r.value("text", ""), Words()));
  // One section per page, a PNG logo on each, frames placed on the page, no
  // RTF page header or footer.
  size_t sections = 0, pictures = 0;
  for (size_t p = 0; (p = rtf.find("\\sectd", p)) != std::string::npos; ++p) ++sections;
  for (size_t p = 0; (p = rtf.find("\\pngblip", p)) != std::string::npos; ++p) ++pictures;
  EXPECT_EQ(sections, 2u);
  EXPECT_EQ(pictures, 2u);
  EXPECT_NE(rtf.find("\\pvpg\\phpg\\posx"), std::string::npos);
  EXPECT_EQ(rtf.find("{\\header"), std::string::npos);
  EXPECT_EQ(rtf.find("{\\footer"), std::string::npos);
  EXPECT_NE(rtf.find("{\\*\\generator FastReport;}"), std::string::npos);
}

TEST_F(ExportFormats, RtfEscapesBracesBackslashesAndCharactersBeyondWindows1252) {
  PreparedReport r;
  r.pages.resize(1);
  PreparedItem run;
  run.x = run.y = 10;
  run.w = 80;
  run.h = 5;
  run.text = "{C:\\Reise} \xE2\x86\x92 5 \xE2\x82\xAC \xCE\xA9";  // {C:\Reise} → 5 € Ω
  r.pages[0].items.push_back(run);
  const std::string rtf = RtfExporter::Render(r, DocumentInfo{"T", "", "", "FastReport"});
  EXPECT_NE(rtf.find("\\{C:\\\\Reise\\} \\u8594? 5 \\'80 \\u937?"), std::string::npos) << rtf;
  const fs::path file = dir_ / "probe.escape.rtf";
  std::ofstream(file, std::ios::binary) << rtf;
  EXPECT_NE(Check("rtf", file).value("text", "").find("{C:\\Reise} \xE2\x86\x92 5 \xE2\x82\xAC \xCE\xA9"),
            std::string::npos);
  fs::remove(file);
}

TEST_F(ExportFormats, CsvOneLinePerVisualRowInWindows1252) {
  const fs::path file = Export("csv");
  const std::string bytes = ReadFile(file);
  EXPECT_NE(bytes.find("1;Leistung 1;1,50 \x80\r\n"), std::string::npos) << "unquoted, Windows-1252, CR LF";
  EXPECT_NE(bytes.find("2;\"Zimmer; \"\"Meerblick\"\"\";3,00 \x80\r\n"), std::string::npos) << "quoted where needed";
  const nlohmann::json r = Check("csv", file);
  const auto rows = r.value("rows", std::vector<std::vector<std::string>>{});
  ASSERT_EQ(rows.size(), 2u * 2 + 40) << "header and footer on both pages, one row per position";
  EXPECT_EQ(rows[0], std::vector<std::string>{"Buchungsbestätigung für Jürgen"});
  EXPECT_EQ(rows[2], (std::vector<std::string>{"2", "Zimmer; \"Meerblick\"", "3,00 €"}));
  std::vector<std::string> positions;
  for (const auto& row : rows)
    if (row.size() == 3) positions.push_back(row[0]);
  ASSERT_EQ(positions.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(positions[static_cast<size_t>(i)], std::to_string(i + 1));
  EXPECT_EQ(rows.back(), std::vector<std::string>{"Seite 2 von 2"});
}

TEST_F(ExportFormats, CsvRowsGroupLinesByTheirVerticalMiddle) {
  PreparedReport r;
  r.pages.resize(1);
  auto run = [](double x, double y, double h, const char* t) {
    PreparedItem i;
    i.x = x;
    i.y = y;
    i.h = h;
    i.text = t;
    return i;
  };
  // A bigger font in the same row sits a little higher; the next row starts
  // more than half a line lower.
  r.pages[0].items = {run(50, 10.4, 4, "b"), run(10, 10, 5, "a"), run(10, 14.2, 4, "c"), run(90, 10.2, 4.5, "\tz")};
  EXPECT_EQ(CsvExporter::Rows(r), (std::vector<std::vector<std::string>>{{"a", "b", "\tz"}, {"c"}}));
  EXPECT_EQ(CsvExporter::Render(r), "a;b;z\r\nc\r\n") << "control characters removed";
}

TEST_F(ExportFormats, JpegDecodesAtThePagesSizePageBelowPage) {
  const fs::path file = Export("jpg");
  QImageReader reader(QString::fromStdString(file.string()));
  EXPECT_EQ(reader.format(), "jpeg");
  const QImage img = reader.read();
  ASSERT_FALSE(img.isNull()) << reader.errorString().toStdString();
  EXPECT_EQ(img.size(), QSize(794, 2 * 1123)) << "A4 at 96 dpi, two pages";
  // The logo of the second page (150 mm + margin from the left, 15 mm down).
  const QColor logo = img.pixelColor(static_cast<int>((15 + 165) / 25.4 * 96), 1123 + static_cast<int>(22 / 25.4 * 96));
  EXPECT_NEAR(logo.red(), 0x1f, 12);
  EXPECT_NEAR(logo.blue(), 0x79, 12);
  // A row's fill in the body, white in the margin.
  const QColor fill = img.pixelColor(static_cast<int>(100 / 25.4 * 96), static_cast<int>(38 / 25.4 * 96));
  EXPECT_NEAR(fill.blue(), 0xf8, 8);
  EXPECT_NEAR(fill.red(), 0xee, 8);
  EXPECT_EQ(img.pixelColor(3, 3), QColor(Qt::white));
}

TEST_F(ExportFormats, HtmlParsesWithTheWordsInOrderAndEmbeddedPngPictures) {
  const fs::path file = Export("html");
  const nlohmann::json r = Check("html", file);
  std::string all;
  for (const auto& t : r.value("texts", std::vector<std::string>{})) all += t + "\n";
  EXPECT_TRUE(InOrder(all, Words()));
  EXPECT_EQ(r.value("unclosed", std::vector<std::string>{"?"}), std::vector<std::string>{});
  EXPECT_EQ(r.value("images", std::vector<std::vector<int>>{}), (std::vector<std::vector<int>>{{60, 30}, {60, 30}}));
  EXPECT_EQ(r.value("external", std::vector<std::string>{"?"}), std::vector<std::string>{});
  EXPECT_NE(r.value("doctype", "").find("HTML 4.01"), std::string::npos);
  const std::string html = ReadFile(file);
  EXPECT_NE(html.find("width:793.70px;height:1122.52px"), std::string::npos) << "fixed page width";
  EXPECT_EQ(html.find("print"), std::string::npos);
}

TEST_F(ExportFormats, HtmIsOneSelfContainedHtml5PageWithEmbeddedCssPicturesAndAnchors) {
  const fs::path file = Export("htm");
  const nlohmann::json r = Check("html", file);
  std::string all;
  for (const auto& t : r.value("texts", std::vector<std::string>{})) all += t + "\n";
  EXPECT_TRUE(InOrder(all, Words()));
  EXPECT_EQ(r.value("doctype", ""), "DOCTYPE html");
  EXPECT_EQ(r.value("unclosed", std::vector<std::string>{"?"}), std::vector<std::string>{});
  EXPECT_EQ(r.value("external", std::vector<std::string>{"?"}), std::vector<std::string>{}) << "needs no other file";
  EXPECT_EQ(r.value("styles", 0), 1);
  // The logo of both pages is embedded once.
  EXPECT_EQ(r.value("images", std::vector<std::vector<int>>{}), (std::vector<std::vector<int>>{{60, 30}}));
  EXPECT_EQ(r.value("ids", std::vector<std::string>{}), (std::vector<std::string>{"page1", "page2"}));
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().stem(), "probe") << "no file beside the exports: " << e.path();
}

}  // namespace
}  // namespace tarvo::report
