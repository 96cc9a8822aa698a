#include "report/engine/Template.h"

#include <gtest/gtest.h>

#include <map>

namespace tarvo::report {
namespace {

TEST(TemplateReader, ReadsPagesBandsObjectsAndDataSets) {
  const std::string xml = R"X(<?xml version="1.0" encoding="UTF-8"?>
<report name="R">
  <datasets>
    <dataset name="Kopf"><sql>SELECT * FROM T WHERE NR=:NR</sql>
      <param name="NR" type="integer"/>
      <param name="AB" type="datetime" expression="NOW()"/>
      <param name="X" value="fest"/>
    </dataset>
  </datasets>
  <script>x = 1</script>
  <page name="P1" size="A4" orientation="landscape" margin="12" margintop="20">
    <band type="masterdata" name="M" dataset="Kopf" height="8" allowsplit="false">
      <text name="T" left="1" top="2" width="30" height="5" size="12" style="bold,italic"
            align="right" valign="center" frame="left,bottom" fill="#ffeecc" format="number:2"
            stretch="true">Summe: [Kopf.BETRAG]</text>
      <line name="L" left="0" top="7" width="100" height="0" linewidth="0.5"/>
      <rect name="Q" left="0" top="0" width="10" height="10"/>
      <picture name="B" left="0" top="0" width="10" height="10">iVBORw0K</picture>
      <rich name="RT" width="50" height="5">{\rtf1 Hallo}</rich>
    </band>
  </page>
  <dialog name="D"><button name="OK"/></dialog>
</report>)X";
  ReportDef r = ReadTemplate(xml, nullptr);
  ASSERT_EQ(r.dataSets.size(), 1u);
  const auto& d = r.dataSets[0];
  EXPECT_EQ(d.sql, "SELECT * FROM T WHERE NR=:NR");
  ASSERT_EQ(d.params.size(), 3u);
  EXPECT_EQ(d.params[0].type, DataType::Integer);
  EXPECT_TRUE(d.params[0].value.IsNull());
  EXPECT_EQ(d.params[1].expression, "NOW()");
  EXPECT_EQ(d.params[2].value, Value("fest"));
  EXPECT_EQ(r.script, "x = 1");
  ASSERT_EQ(r.pages.size(), 2u);
  const PageDef& p = r.pages[0];
  EXPECT_DOUBLE_EQ(p.width, 297);
  EXPECT_DOUBLE_EQ(p.height, 210);
  EXPECT_DOUBLE_EQ(p.marginLeft, 12);
  EXPECT_DOUBLE_EQ(p.marginTop, 20);
  ASSERT_EQ(p.bands.size(), 1u);
  const BandDef& b = p.bands[0];
  EXPECT_EQ(b.kind, BandKind::MasterData);
  EXPECT_FALSE(b.allowSplit);
  ASSERT_EQ(b.objects.size(), 5u);
  const ObjectDef& t = b.objects[0];
  EXPECT_EQ(t.text, "Summe: [Kopf.BETRAG]");
  EXPECT_TRUE(t.bold && t.italic && !t.underline);
  EXPECT_EQ(t.align, HAlign::Right);
  EXPECT_EQ(t.valign, VAlign::Center);
  EXPECT_TRUE(t.frame.left && t.frame.bottom && !t.frame.top && !t.frame.right);
  EXPECT_TRUE(t.stretch);
  EXPECT_EQ(b.objects[1].kind, ObjectKind::Line);
  EXPECT_TRUE(b.objects[2].frame.Any());  // a rectangle is framed unless told otherwise
  EXPECT_EQ(b.objects[3].data, std::string("\x89PNG\r\n", 6));
  EXPECT_EQ(b.objects[4].kind, ObjectKind::Rich);
  EXPECT_TRUE(r.pages[1].dialog);
  ASSERT_EQ(r.pages[1].dialogControls.size(), 1u);
}

TEST(TemplateReader, RejectsBrokenTemplatesWithALineNumber) {
  const struct {
    const char* xml;
    const char* part;  // expected in the message
  } cases[] = {
      {"<report><page>", "Zeile"},
      {"not xml at all", "Zeile"},
      {"", "Zeile"},
      {"<?xml version=\"1.0\"?><!-- leer -->", "Zeile"},
      {"<vorlage/>", "<report>"},
      {"<report><page><band type=\"kopf\"/></page></report>", "Bandtyp"},
      {"<report><page><band type=\"masterdata\"><text left=\"x\"/></band></page></report>", "keine Zahl"},
      {"<report><page><band type=\"masterdata\"><circle/></band></page></report>", "<circle>"},
      {"<report><page width=\"10\" margin=\"6\"/></report>", "Ränder"},
      {"<report><dataset name=\"D\"><param name=\"P\" type=\"money\"/></dataset></report>", "Datentyp"},
      {"<report><page><band type=\"detaildata\"/></page></report>", "dataset"},
      {"<report><page><band type=\"masterdata\"><picture>@@@</picture></band></page></report>", "Base64"},
  };
  for (const auto& c : cases) {
    try {
      ReadTemplate(c.xml, nullptr);
      ADD_FAILURE() << "accepted: " << c.xml;
    } catch (const ETemplateError& e) {
      EXPECT_NE(std::string(e.what()).find(c.part), std::string::npos) << c.xml << " -> " << e.what();
    }
  }
}

TEST(TemplateReader, ChildInheritsFromItsParentChainAndOverridesByName) {
  std::map<std::string, std::string> store = {
      {"A_B_base", R"X(<report name="base">
          <dataset name="D" sql="SELECT 1"/>
          <script>base = 1</script>
          <page name="S" margin="5">
            <band type="pageheader" name="Kopf" height="10">
              <text name="Logo" width="20" height="5">Firma</text>
              <text name="Adresse" width="20" height="5">Alt</text>
            </band>
          </page></report>)X"},
      {"A_B_mitte", R"X(<report name="mitte" parent="A_B_base">
          <page name="S" margin="7">
            <band type="pageheader" name="Kopf" height="12">
              <text name="Adresse" width="20" height="5">Mitte</text>
            </band>
          </page></report>)X"},
  };
  std::vector<std::string> asked;
  auto loader = [&](const std::string& name) {
    asked.push_back(name);
    auto it = store.find(name);
    if (it == store.end()) throw std::runtime_error("fehlt " + name);
    return it->second;
  };
  ReportDef r = ReadTemplate(R"X(<report name="kind" parent="A_B_mitte">
      <dataset name="E" sql="SELECT 2"/>
      <script>child = 1</script>
      <page name="S">
        <band type="pageheader" name="Kopf" height="14">
          <text name="Zusatz" width="20" height="5">Neu</text>
        </band>
        <band type="masterdata" name="Daten" height="5"/>
      </page></report>)X", loader);
  EXPECT_EQ(asked, (std::vector<std::string>{"A_B_mitte", "A_B_base"}));
  EXPECT_EQ(r.name, "kind");
  EXPECT_TRUE(r.parent.empty());
  EXPECT_EQ(r.script, "base = 1\nchild = 1");
  ASSERT_EQ(r.dataSets.size(), 2u);
  ASSERT_EQ(r.pages.size(), 1u);
  const PageDef& p = r.pages[0];
  EXPECT_DOUBLE_EQ(p.marginLeft, 10);  // the child's page settings win
  ASSERT_EQ(p.bands.size(), 2u);
  const BandDef& kopf = p.bands[0];
  EXPECT_DOUBLE_EQ(kopf.height, 14);
  ASSERT_EQ(kopf.objects.size(), 3u);
  EXPECT_EQ(kopf.objects[0].text, "Firma");
  EXPECT_EQ(kopf.objects[1].text, "Mitte");  // replaced in place
  EXPECT_EQ(kopf.objects[2].text, "Neu");

  // A missing parent fails with the loader's message; a cycle ends.
  EXPECT_THROW(ReadTemplate(R"X(<report parent="X_Y_z"/>)X", loader), std::runtime_error);
  store["A_B_kreis"] = R"X(<report parent="A_B_kreis"/>)X";
  EXPECT_THROW(ReadTemplate(store["A_B_kreis"], loader), ETemplateError);
}

}  // namespace
}  // namespace tarvo::report
