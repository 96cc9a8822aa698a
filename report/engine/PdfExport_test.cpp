#include "report/engine/PdfExport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report/engine/Layout.h"
#include "report/engine/TextMeasure.h"
#include "report/testing/ReportTestSupport.h"

namespace tarvo::report {
namespace {

using reporttest::Shell;

class NoData : public IDataProvider {
 public:
  Table Query(const std::string&, const std::vector<BoundParam>&) override {
    Table t;
    t.columns = {"NR", "NAME"};
    for (int i = 1; i <= 90; ++i) t.rows.push_back({Value(i), Value("Größe Nr. " + std::to_string(i))});
    return t;
  }
};

class PdfExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGuiApplication();
    dir = std::filesystem::temp_directory_path() / ("pdfexport-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    if (!std::getenv("KEEP_PDF")) std::filesystem::remove_all(dir);
  }
  std::filesystem::path dir;
};

TEST_F(PdfExportTest, WritesTextFontsPagesAndDocumentInformation) {
  ReportDef def = ReadTemplate(R"X(<report name="Probe">
    <dataset name="D" sql="x"/>
    <page size="A4" margin="15">
      <band type="pageheader" height="12"><text width="180" height="8" size="14" style="bold">Buchungsbestätigung</text></band>
      <band type="masterdata" dataset="D" height="7">
        <text width="100" height="6">[D.NAME]</text>
        <line top="6.5" width="180" height="0"/>
      </band>
      <band type="pagefooter" height="8"><text width="180" height="6" align="right">Seite [PAGE] von [TOTALPAGES]</text></band>
    </page>
    <page name="Zwei" size="A5" orientation="landscape">
      <band type="title" height="10"><text width="100" height="6" style="italic">Anhang</text></band>
    </page></report>)X", nullptr);
  NoData data;
  FormatSettings fs = FormatSettings::German();
  ReportEngine engine(def, data, fs, nullptr);
  ASSERT_TRUE(engine.Prepare());
  const size_t pages = engine.Prepared().pages.size();
  ASSERT_GE(pages, 3u);
  const std::string path = (dir / "out.pdf").string();
  DocumentInfo info{"Probe", "RUZIRuruvuvuv", "PDF Dokument", "FastReport"};
  PdfExporter().Export(engine.Prepared(), path, info);

  const std::string pdfinfo = Shell("pdfinfo '" + path + "' 2>&1");
  EXPECT_NE(pdfinfo.find("Author:          RUZIRuruvuvuv"), std::string::npos) << pdfinfo;
  EXPECT_NE(pdfinfo.find("Subject:         PDF Dokument"), std::string::npos) << pdfinfo;
  EXPECT_NE(pdfinfo.find("Creator:         FastReport"), std::string::npos) << pdfinfo;
  EXPECT_NE(pdfinfo.find("Pages:           " + std::to_string(pages)), std::string::npos) << pdfinfo;
  EXPECT_NE(pdfinfo.find("PDF version:     1.6"), std::string::npos) << pdfinfo;
  EXPECT_EQ(pdfinfo.find("Syntax Error"), std::string::npos) << pdfinfo;  // offsets still right

  // Every page size as laid out: A4 portrait, then A5 landscape.
  const std::string sizes = Shell("pdfinfo -f 1 -l " + std::to_string(pages) + " '" + path + "' | grep 'size:'");
  EXPECT_NE(sizes.find("Page    1 size:  595 x 842 pts"), std::string::npos) << sizes;
  EXPECT_NE(sizes.find("size:  595 x 420 pts"), std::string::npos) << sizes;

  const std::string fonts = Shell("pdffonts '" + path + "'");
  EXPECT_NE(fonts.find("DejaVuSans"), std::string::npos) << fonts;
  // Columns: name type encoding emb sub uni object ID; every font embedded.
  std::istringstream lines(fonts);
  std::string line;
  int fontLines = 0;
  for (int n = 0; std::getline(lines, line); ++n) {
    if (n < 2 || line.empty()) continue;
    std::istringstream cols(line);
    std::vector<std::string> c;
    for (std::string w; cols >> w;) c.push_back(w);
    ASSERT_GE(c.size(), 5u) << line;
    EXPECT_EQ(c[c.size() - 5], "yes") << "not embedded: " << line;
    ++fontLines;
  }
  EXPECT_EQ(fontLines, 3) << fonts;  // regular, bold, italic

  const std::string first = Shell("pdftotext -f 1 -l 1 -layout '" + path + "' -");
  EXPECT_NE(first.find("Buchungsbestätigung"), std::string::npos) << first;
  EXPECT_NE(first.find("Größe Nr. 1\n"), std::string::npos) << first;
  EXPECT_NE(first.find("Seite 1 von " + std::to_string(pages)), std::string::npos) << first;
  const std::string last = Shell("pdftotext -f " + std::to_string(pages) + " -l " + std::to_string(pages) + " '" + path + "' -");
  EXPECT_NE(last.find("Anhang"), std::string::npos) << last;
  const std::string all = Shell("pdftotext '" + path + "' -");
  EXPECT_NE(all.find("Größe Nr. 90"), std::string::npos);
  // No temporary file remains beside the output.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) (void)e, ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(PdfExportTest, AFailedWriteLeavesNoFileBehind) {
  PreparedReport r;
  r.pages.resize(1);
  const std::string path = (dir / "fehlt" / "out.pdf").string();
  EXPECT_THROW(PdfExporter().Export(r, path, {}), EExportError);
  EXPECT_FALSE(std::filesystem::exists(dir / "fehlt"));
}

TEST(PdfInfoEntries, LeavesUnexpectedLayoutsAlone) {
  EXPECT_EQ(AddInfoEntries("kein pdf", "a", "b"), "kein pdf");
}

TEST(Exporters, FormatNamesInAnyCaseAndUnsupportedOnes) {
  for (const char* f : {"pdf", "Pdf", "PDF"}) EXPECT_NE(ExporterFor(f), nullptr) << f;
  for (const char* f : {"xlsx", "", "PDFX"}) EXPECT_EQ(ExporterFor(f), nullptr) << f;
}

}  // namespace
}  // namespace tarvo::report
