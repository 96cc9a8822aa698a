#include "report/engine/Layout.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "report/engine/TextMeasure.h"
#include "report/testing/ReportTestSupport.h"

namespace tarvo::report {
namespace {

// Rows by SQL text; records what each query was asked with.
class MemoryData : public IDataProvider {
 public:
  std::map<std::string, std::function<Table(const std::vector<BoundParam>&)>> tables;
  std::vector<std::pair<std::string, std::vector<BoundParam>>> calls;
  Table Query(const std::string& sql, const std::vector<BoundParam>& params) override {
    calls.emplace_back(sql, params);
    auto it = tables.find(sql);
    if (it == tables.end()) throw std::runtime_error("Unbekannte Tabelle in " + sql);
    return it->second(params);
  }
};

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureGuiApplication(); }
  FormatSettings fs = FormatSettings::German();
  MemoryData data;

  PreparedReport Run(const std::string& xml, bool expectComplete = true) {
    report = ReadTemplate(xml, nullptr);
    engine = std::make_unique<ReportEngine>(report, data, fs, nullptr);
    EXPECT_EQ(engine->Prepare(), expectComplete);
    return engine->Prepared();
  }
  static std::vector<std::string> Texts(const PreparedPage& p) {
    std::vector<std::string> out;
    for (const auto& i : p.items)
      if (i.kind == PreparedItem::Kind::TextRun) out.push_back(i.text);
    return out;
  }
  static bool Contains(const PreparedPage& p, const std::string& text) {
    for (const auto& t : Texts(p))
      if (t == text) return true;
    return false;
  }
  ReportDef report;
  std::unique_ptr<ReportEngine> engine;
};

Table Positions(int n) {
  Table t;
  t.columns = {"POS", "TEXT", "BETRAG"};
  for (int i = 1; i <= n; ++i) t.rows.push_back({Value(i), Value("Leistung " + std::to_string(i)), Value(i * 1.5)});
  return t;
}

TEST_F(LayoutTest, MasterRowsFlowOverPagesBetweenHeaderAndFooter) {
  data.tables["POS"] = [](const std::vector<BoundParam>&) { return Positions(120); };
  PreparedReport r = Run(R"X(<report>
    <dataset name="Pos" sql="POS"/>
    <page margin="10">
      <band type="pageheader" height="10"><text width="100" height="6">Kopf [PAGE]</text></band>
      <band type="title" height="20"><text width="100" height="6">Titel</text></band>
      <band type="masterdata" dataset="Pos" height="6">
        <text width="60" height="6">[Pos.TEXT]</text>
        <text left="100" width="40" height="6" align="right" format="number:2">[Pos.BETRAG]</text>
      </band>
      <band type="summary" height="8"><text width="100" height="6" format="number:2">Summe [SUM("Pos", "BETRAG")] in [COUNT("Pos")]</text></band>
      <band type="pagefooter" height="8"><text width="100" height="6">Seite [PAGE] von [TOTALPAGES]</text></band>
    </page></report>)X");
  ASSERT_GE(r.pages.size(), 3u);
  const size_t n = r.pages.size();
  int next = 1;
  for (size_t p = 0; p < n; ++p) {
    const auto& page = r.pages[p];
    EXPECT_TRUE(Contains(page, "Kopf " + std::to_string(p + 1))) << p;
    EXPECT_TRUE(Contains(page, "Seite " + std::to_string(p + 1) + " von " + std::to_string(n))) << p;
    EXPECT_EQ(Contains(page, "Titel"), p == 0);
    for (const auto& i : page.items) {
      if (i.kind != PreparedItem::Kind::TextRun) continue;
      if (i.text.rfind("Leistung ", 0) == 0) {
        // Rows stay in order, each exactly once, above the footer.
        EXPECT_EQ(i.text, "Leistung " + std::to_string(next));
        ++next;
        EXPECT_LE(i.y + i.h, 297 - 10 - 8 + 0.01);
        EXPECT_GE(i.y, 10 + 10 - 0.01);
      }
    }
  }
  EXPECT_EQ(next, 121);
  // 1.5 * (1 + ... + 120) = 10890, in the locale's form.
  EXPECT_TRUE(Contains(r.pages.back(), "Summe 10.890,00 in 120,00"));
  EXPECT_TRUE(Contains(r.pages.front(), "1,50"));
}

TEST_F(LayoutTest, DetailRowsFollowTheirMasterWithParametersFromIt) {
  data.tables["KOPF"] = [](const std::vector<BoundParam>&) {
    Table t;
    t.columns = {"NR", "GRUPPE"};
    t.rows = {{Value(1), Value("A")}, {Value(2), Value("A")}, {Value(3), Value("B")}};
    return t;
  };
  data.tables["POS"] = [](const std::vector<BoundParam>& p) {
    Table t;
    t.columns = {"TEXT"};
    const int64_t nr = p.at(0).value.Integer();
    for (int i = 0; i < nr; ++i) t.rows.push_back({Value("pos " + std::to_string(nr) + "." + std::to_string(i))});
    return t;
  };
  PreparedReport r = Run(R"X(<report>
    <dataset name="Kopf" sql="KOPF"/>
    <dataset name="Pos" sql="POS"><param name="NR" type="integer" expression="Kopf.NR"/></dataset>
    <page>
      <band type="groupheader" condition="Kopf.GRUPPE" height="5"><text width="50" height="5">Gruppe [Kopf.GRUPPE]</text></band>
      <band type="masterdata" dataset="Kopf" height="5"><text width="50" height="5">Kopf [Kopf.NR] Zeile [LINE]</text></band>
      <band type="detaildata" dataset="Pos" height="5"><text width="50" height="5">[Pos.TEXT]</text></band>
      <band type="groupfooter" height="5"><text width="50" height="5">Ende [Kopf.GRUPPE] nach [Kopf.NR]</text></band>
    </page></report>)X");
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(Texts(r.pages[0]),
            (std::vector<std::string>{"Gruppe A", "Kopf 1 Zeile 1", "pos 1.0", "Kopf 2 Zeile 2", "pos 2.0",
                                      "pos 2.1", "Ende A nach 2", "Gruppe B", "Kopf 3 Zeile 3", "pos 3.0",
                                      "pos 3.1", "pos 3.2", "Ende B nach 3"}));
  // The detail query ran once per master row, with that row's number.
  ASSERT_EQ(data.calls.size(), 4u);
  EXPECT_EQ(data.calls[3].first, "POS");
  EXPECT_EQ(data.calls[3].second.at(0).value, Value(int64_t{3}));
}

TEST_F(LayoutTest, AGrowingBandBreaksAcrossPagesWithoutLosingLines) {
  std::string lines;
  for (int i = 1; i <= 150; ++i) lines += "Zeile " + std::to_string(i) + "\n";
  data.tables["T"] = [&](const std::vector<BoundParam>&) {
    Table t;
    t.columns = {"LANG"};
    t.rows = {{Value(lines)}};
    return t;
  };
  PreparedReport r = Run(R"X(<report><dataset name="T" sql="T"/>
    <page margin="10">
      <band type="masterdata" dataset="T" height="5">
        <text width="80" height="5" stretch="true" frame="all">[T.LANG]</text>
      </band>
      <band type="pagefooter" height="10"><text width="50" height="5">Fuß</text></band>
    </page></report>)X");
  ASSERT_GE(r.pages.size(), 2u);
  int next = 1;
  for (const auto& page : r.pages) {
    double boxBottom = 0;
    for (const auto& i : page.items) {
      if (i.kind == PreparedItem::Kind::Box) boxBottom = std::max(boxBottom, i.y + i.h);
      if (i.kind == PreparedItem::Kind::TextRun && i.text != "Fuß") {
        EXPECT_EQ(i.text, "Zeile " + std::to_string(next++));
        EXPECT_LE(i.y + i.h, 297 - 10 - 10 + 0.01);
      }
    }
    EXPECT_GT(boxBottom, 0);  // the frame continues on every page
    EXPECT_LE(boxBottom, 297 - 10 - 10 + 0.01);
  }
  EXPECT_EQ(next, 151);
}

TEST_F(LayoutTest, ScriptsCanCancelSkipBandsAndFail) {
  data.tables["T"] = [](const std::vector<BoundParam>&) { return Positions(3); };
  const std::string body = R"X(<dataset name="T" sql="T"/><page>
      <band type="masterdata" dataset="T" height="5" beforeprint="%s"><text width="50" height="5">[T.TEXT]</text></band>
    </page>)X";
  auto with = [&](const std::string& script, const std::string& before) {
    std::string b = body;
    b.replace(b.find("%s"), 2, before);
    return "<report><script>" + script + "</script>" + b + "</report>";
  };
  // Cancel in the report script: nothing is prepared further.
  PreparedReport r = Run(with("Cancel()", ""), false);
  EXPECT_TRUE(r.pages.empty());
  // Cancel while a band prints.
  Run(with("", "if T.POS == 2 then Cancel() end"), false);
  // false from a band script skips that band only.
  r = Run(with("", "return T.POS ~= 2"));
  EXPECT_EQ(Texts(r.pages.at(0)), (std::vector<std::string>{"Leistung 1", "Leistung 3"}));
  // Errors in scripts, expressions and data sets propagate.
  EXPECT_THROW(Run(with("local x = nil; x.y = 1", "")), EScriptError);
  EXPECT_THROW(Run(R"X(<report><page><band type="title" height="5"><text>[1 +]</text></band></page></report>)X"),
               EScriptError);
  EXPECT_THROW(Run(R"X(<report><dataset name="X" sql="NIRGENDS"/></report>)X"), std::runtime_error);
}

TEST_F(LayoutTest, PicturesFromFieldsMustBeImages) {
  std::string blob = reporttest::SolidImage(4, 2, Qt::red, "PNG");
  data.tables["B"] = [&](const std::vector<BoundParam>&) {
    Table t;
    t.columns = {"BILD"};
    t.rows = {{Value(Bytes{blob})}, {Value()}};
    return t;
  };
  const std::string xml = R"X(<report><dataset name="B" sql="B"/><page>
      <band type="masterdata" dataset="B" height="20"><picture name="Logo" source="B.BILD" width="40" height="10"/></band>
    </page></report>)X";
  PreparedReport r = Run(xml);
  int images = 0;
  for (const auto& i : r.pages.at(0).items)
    if (i.kind == PreparedItem::Kind::Image) {
      ++images;
      EXPECT_NEAR(i.w, 20, 0.01);  // keeps its aspect inside 40 x 10
      EXPECT_NEAR(i.h, 10, 0.01);
    }
  EXPECT_EQ(images, 1);  // the empty field shows nothing
  blob = "GIF89a kaputt";
  try {
    Run(xml);
    ADD_FAILURE() << "a blob that is no image was accepted";
  } catch (const ETemplateError& e) {
    EXPECT_NE(std::string(e.what()).find("Logo"), std::string::npos);
  }
}

}  // namespace
}  // namespace tarvo::report

namespace tarvo::report {
namespace {

TEST_F(LayoutTest, ObjectsGrowClipAlignAndTakeTheBandsHeight) {
  data.tables["T"] = [](const std::vector<BoundParam>&) {
    Table t;
    t.columns = {"LANG", "NULL"};
    t.rows = {{Value("eins zwei drei vier fünf sechs sieben acht neun zehn elf zwölf"), Value(0.0)}};
    return t;
  };
  PreparedReport r = Run(R"X(<report><dataset name="T" sql="T"/><page margin="10">
    <band type="masterdata" dataset="T" height="6">
      <text name="Wachsend" left="0" width="20" height="5" stretch="true">[T.LANG]</text>
      <text name="Zeile" left="30" width="40" height="5" stretch="band" frame="bottom">rechts</text>
      <text name="Fest" left="80" width="20" height="5" frame="all">[T.LANG]</text>
      <text name="Rechts" left="110" width="40" height="5" align="right">rechts</text>
      <text name="Unten" left="160" width="30" height="20" valign="bottom">unten</text>
      <text name="Null" left="0" top="30" width="30" height="5" hidezero="true">[T.NULL]x</text>
      <text name="Bleibt" left="5" top="20" width="10" height="5" shift="false">b</text>
    </band></page></report>)X");
  const auto& items = r.pages.at(0).items;
  double growBottom = 0, bandBox = 0, fixedBox = 0, fixedTextBottom = 0, right = 0, bottom = 0;
  int fixedLines = 0;
  for (const auto& i : items) {
    if (i.kind == PreparedItem::Kind::TextRun && i.x < 30 && i.text != "x" && i.text != "b")
      growBottom = std::max(growBottom, i.y + i.h);
    if (i.kind == PreparedItem::Kind::Box && i.x > 39 && i.x < 41) bandBox = i.h;
    if (i.kind == PreparedItem::Kind::Box && i.x > 89 && i.x < 91) fixedBox = i.h;
    if (i.kind == PreparedItem::Kind::TextRun && i.x > 90 && i.x < 110) {
      ++fixedLines;
      fixedTextBottom = std::max(fixedTextBottom, i.y + i.h);
    }
    if (i.kind == PreparedItem::Kind::TextRun && i.x > 120 && i.x < 165) right = i.x + i.w;
    if (i.kind == PreparedItem::Kind::TextRun && i.text == "unten") bottom = i.y + i.h;
  }
  EXPECT_GT(growBottom, 10 + 10);  // several lines: the band grew
  // The text below the grown one moved down by the growth; the band ends with it.
  const double growth = growBottom + 0.3 - 10 - 5;
  double xTop = 0, bTop = 0;
  for (const auto& i : items) {
    if (i.kind == PreparedItem::Kind::TextRun && i.text == "x") xTop = i.y;
    if (i.kind == PreparedItem::Kind::TextRun && i.text == "b") bTop = i.y;
  }
  EXPECT_NEAR(xTop, 10 + 30 + growth + 0.3, 0.01);
  EXPECT_NEAR(bTop, 10 + 20 + 0.3, 0.01);  // shift="false" stays
  EXPECT_NEAR(bandBox, 35 + growth, 0.01);
  EXPECT_NEAR(fixedBox, 5, 0.01);
  EXPECT_EQ(fixedLines, 1);  // clipped to its height
  EXPECT_LE(fixedTextBottom, 10 + 5 + 0.01);
  EXPECT_NEAR(right, 10 + 110 + 40 - 0.5, 0.05);
  EXPECT_NEAR(bottom, 10 + 20 - 0.3, 0.05);
  EXPECT_TRUE(Contains(r.pages.at(0), "x"));  // 0 hidden, the rest written
}

}  // namespace
}  // namespace tarvo::report
