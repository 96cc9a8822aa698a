#include "common/Konfiguration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// A fresh folder standing in for the installation folder.
class KonfigurationFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarvo-konf-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    k_.BasisPfad = dir_ + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path() const { return dir_ + "/tarvoserver.ini"; }
  void WriteRaw(const std::string& bytes) {
    std::ofstream(Path(), std::ios::binary) << bytes;
  }
  std::string ReadRaw() const {
    std::ifstream in(Path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void Load(const std::string& bytes) {
    WriteRaw(bytes);
    k_.LoadFromFile();
  }

  std::string dir_;
  TKonfiguration k_;
};

void ExpectDefaults(const TKonfiguration& k) {
  EXPECT_EQ(k.FWebplattformURL.get(), "http://www.tarvo.de/webplattform");
  EXPECT_EQ(k.FDevWebplattformURL.get(), "http://localhost/webplattform");
  EXPECT_EQ(k.TarvoServerPort.get(), "50600");
  EXPECT_EQ(k.Datenbankpfad.get(),
            "localhost/3050:C:\\Program Files (x86)\\TarvoWw\\Daten\\TARVOWW.IB");
  EXPECT_EQ(k.Sicherheitsschluessel.get(), "");
  EXPECT_EQ(k.AutoUpdateTime.get(), "");
  EXPECT_EQ(k.AutoUpdateAufgabe.get(), "");
  EXPECT_EQ(k.EventsNames.get(), "");
  EXPECT_EQ(k.DienstName.get(), "");
  EXPECT_EQ(k.FReportTimeout.get(), 30);
  EXPECT_EQ(k.FReportPool.get(), 5);
  EXPECT_EQ(k.FReportJobs.get(), 3);
  EXPECT_EQ(k.FWarnLevel.get(), 3);
  EXPECT_EQ(k.FDienstInterval.get(), 20);
  EXPECT_EQ(k.FDienstVersuche.get(), 3);
  for (bool b : {k.AutoUpdate.get(), k.Events.get(), k.Dienst.get(), k.TestseitePublic.get(),
                 k.DevMode.get(), k.UpdateTest.get(), k.InfoLog.get(), k.ErrorLog.get(),
                 k.TraceLog.get(), k.DebugLog.get()})
    EXPECT_FALSE(b);
}

TEST_F(KonfigurationFile, MissingFileGivesDefaultsAndResetsEverything) {
  // Values from before the load do not survive it.
  k_.Sicherheitsschluessel = std::string("alt");
  k_.TestseitePublic = true;
  k_.DebugLog = true;
  k_.FReportPool = 99;
  k_.LoadFromFile();
  ExpectDefaults(k_);
  EXPECT_EQ(k_.BasisPfad.get(), dir_ + "/");
}

TEST_F(KonfigurationFile, UnreadableInputGivesDefaultsOrWhatCanBeRead) {
  // A directory where the file should be.
  fs::create_directory(Path());
  k_.LoadFromFile();
  ExpectDefaults(k_);
  fs::remove(Path());

  // Binary noise with NUL bytes around one readable line.
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise.push_back(static_cast<char>((i * 7919) % 256));
  Load(noise + "\r\nREPORT-POOL=9\r\n" + noise);
  EXPECT_EQ(k_.FReportPool.get(), 9);
  EXPECT_EQ(k_.TarvoServerPort.get(), "50600");

  // A file larger than any settings file: what lies beyond the cap is ignored.
  std::string big = "REPORT-JOBS=4\r\n";
  big.append(3u << 20, 'x');
  big += "\r\nWARN-LEVEL=8\r\n";
  Load(big);
  EXPECT_EQ(k_.FReportJobs.get(), 4);
  EXPECT_EQ(k_.FWarnLevel.get(), 3);

  // A folder that does not exist.
  k_.BasisPfad = dir_ + "/fehlt/";
  k_.LoadFromFile();
  ExpectDefaults(k_);
}

struct LineCase {
  const char* line;
  std::string (*read)(const TKonfiguration&);
  std::string expected;
};

std::string AutoUpdateOf(const TKonfiguration& k) { return k.AutoUpdate ? "true" : "false"; }
std::string PoolOf(const TKonfiguration& k) { return std::to_string(k.FReportPool.get()); }
std::string TimeoutOf(const TKonfiguration& k) { return std::to_string(k.FReportTimeout.get()); }
std::string UrlOf(const TKonfiguration& k) { return k.FWebplattformURL; }
std::string DevUrlOf(const TKonfiguration& k) { return k.FDevWebplattformURL; }
std::string PortOf(const TKonfiguration& k) { return k.TarvoServerPort; }
std::string KeyOf(const TKonfiguration& k) { return k.Sicherheitsschluessel; }

TEST_F(KonfigurationFile, ReadsEachLineByItsRules) {
  const LineCase cases[] = {
      {"AUTO-UPDATE=JA", AutoUpdateOf, "true"},
      {"AUTO-UPDATE=ja", AutoUpdateOf, "false"},
      {"auto-update=JA", AutoUpdateOf, "true"},
      {"AUTO-UPDATE=1", AutoUpdateOf, "false"},
      {"AUTO-UPDATE= \tJA \t", AutoUpdateOf, "true"},
      {"AUTO-UPDATE =JA", AutoUpdateOf, "false"},  // the name part is not trimmed
      {"REPORT-POOL=0", PoolOf, "0"},
      {"REPORT-POOL=-4", PoolOf, "-4"},
      {"REPORT-POOL=+7", PoolOf, "7"},
      {"REPORT-POOL=abc", PoolOf, "5"},
      {"REPORT-POOL=7x", PoolOf, "5"},
      {"REPORT-POOL=", PoolOf, "5"},
      {"REPORT-POOL=2147483647", PoolOf, "2147483647"},
      {"REPORT-POOL=2147483648", PoolOf, "5"},
      {"REPORT-TIMEOUT=-2147483648", TimeoutOf, "-2147483648"},
      {"WEBPLATTFORM-URL=https://host/webplattform/", UrlOf, "http://host/webplattform"},
      {"WEBPLATTFORM-URL=HTTPS://host/webplattform", UrlOf, "HTTPS://host/webplattform"},
      {"WEBPLATTFORM-URL=", UrlOf, "http://www.tarvo.de/webplattform"},
      {"DEV-WEBPLATTFORM-URL=host//", DevUrlOf, "host/"},
      {"DEV-WEBPLATTFORM-URL=https://dev/", DevUrlOf, "https://dev"},
      {"TARVO-SERVER-PORT=  ", PortOf, "50600"},
      {"TARVO-SERVER-PORT=8080", PortOf, "8080"},
      {"SICHERHEITSSCHLUESSEL=a=b=c", KeyOf, "a=b=c"},
      {"SICHERHEITSSCHLUESSEL=erst\r\nSICHERHEITSSCHLUESSEL=dann", KeyOf, "erst"},
      {"SICHERHEITSSCHL\xDC" "SSEL=x", KeyOf, ""},
  };
  for (const auto& c : cases) {
    Load(std::string("IRGENDWAS\r\n") + c.line + "\r\n");
    EXPECT_EQ(c.read(k_), c.expected) << c.line;
  }
}

TEST_F(KonfigurationFile, ReadsEncodingsAndLineEnds) {
  const std::string expected = "Schl\xC3\xBC" "ssel \xE2\x82\xAC";  // UTF-8
  struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"Windows-1252, CR LF", "DIENST=JA\r\nSICHERHEITSSCHLUESSEL=Schl\xFCssel \x80\r\n"},
      {"Windows-1252, LF", "DIENST=JA\nSICHERHEITSSCHLUESSEL=Schl\xFCssel \x80\n"},
      {"Windows-1252, CR", "DIENST=JA\rSICHERHEITSSCHLUESSEL=Schl\xFCssel \x80"},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" "DIENST=JA\r\nSICHERHEITSSCHLUESSEL=" + expected + "\r\n"},
      {"UTF-16 LE", std::string("\xFF\xFE" "D\0I\0E\0N\0S\0T\0=\0J\0A\0\n\0"
                                "S\0I\0C\0H\0E\0R\0H\0E\0I\0T\0S\0S\0C\0H\0L\0U\0E\0S\0S\0E\0L\0=\0"
                                "S\0c\0h\0l\0\xFC\0s\0s\0e\0l\0 \0\xAC\x20",
                                90)},
      {"UTF-16 BE", std::string("\xFE\xFF" "\0D\0I\0E\0N\0S\0T\0=\0J\0A\0\n"
                                "\0S\0I\0C\0H\0E\0R\0H\0E\0I\0T\0S\0S\0C\0H\0L\0U\0E\0S\0S\0E\0L\0="
                                "\0S\0c\0h\0l\0\xFC\0s\0s\0e\0l\0 \x20\xAC",
                                90)},
  };
  for (const auto& f : files) {
    Load(f.bytes);
    EXPECT_TRUE(k_.Dienst.get()) << f.name;
    EXPECT_EQ(k_.Sicherheitsschluessel.get(), expected) << f.name;
  }
}

TEST_F(KonfigurationFile, WritesTheKnownKeysInFixedOrderAsWindows1252) {
  // Unknown lines of the old file are dropped.
  Load("KOMMENTAR=alt\r\n; noch ein Kommentar\r\nDEBUGLOG=JA\r\n");
  k_.AutoUpdateTime = std::string("7:30");
  k_.AutoUpdateAufgabe = std::string("TarvoUpdate");
  k_.SetDevWebplattformURL("http://localhost:8080/wp/");
  k_.SetWebplattformURL("https://kunde.example/webplattform/");
  k_.TarvoServerPort = std::string("50601");
  k_.Sicherheitsschluessel = std::string("Gr\xC3\xBC\xC3\x9F" "e");
  k_.Datenbankpfad = std::string("db/3050:/daten/x.ib");
  k_.EventsNames = std::string("CHANGELOG,FHT_CHANGELOG");
  k_.DienstName = std::string("TarvoDienst");
  k_.SetReportTimeout(60);
  k_.SetReportPool(2);
  k_.SetReportJobs(4);
  k_.SetWarnLevel(5);
  k_.SetDienstInterval(10);
  k_.SetDienstVersuche(6);
  k_.UpdateTest = true;
  k_.Events = true;
  k_.AutoUpdate = true;
  k_.ErrorLog = true;
  k_.TestseitePublic = true;  // never stored
  k_.SaveToFile();
  EXPECT_EQ(ReadRaw(),
            "AUTO-UPDATE-TIME=7:30\r\n"
            "AUTO-UPDATE-AUFGABE=TarvoUpdate\r\n"
            "DEV-WEBPLATTFORM-URL=http://localhost:8080/wp\r\n"
            "WEBPLATTFORM-URL=http://kunde.example/webplattform\r\n"
            "TARVO-SERVER-PORT=50601\r\n"
            "SICHERHEITSSCHLUESSEL=Gr\xFC\xDF" "e\r\n"
            "DATENBANKPFAD=db/3050:/daten/x.ib\r\n"
            "EVENTS-NAMES=CHANGELOG,FHT_CHANGELOG\r\n"
            "DIENST-NAME=TarvoDienst\r\n"
            "REPORT-TIMEOUT=60\r\n"
            "REPORT-POOL=2\r\n"
            "REPORT-JOBS=4\r\n"
            "WARN-LEVEL=5\r\n"
            "DIENST-INTERVAL=10\r\n"
            "DIENST-VERSUCHE=6\r\n"
            "UPDATE-TEST=JA\r\n"
            "DEV-MODE=NEIN\r\n"
            "EVENTS=JA\r\n"
            "DIENST=NEIN\r\n"
            "AUTO-UPDATE=JA\r\n"
            "INFOLOG=NEIN\r\n"
            "ERRORLOG=JA\r\n"
            "TRACELOG=NEIN\r\n"
            "DEBUGLOG=JA\r\n");

  // Read back, every value survives the round trip.
  TKonfiguration back;
  back.BasisPfad = dir_;  // without the trailing separator: the join adds it
  back.LoadFromFile();
  EXPECT_EQ(back.Sicherheitsschluessel.get(), k_.Sicherheitsschluessel.get());
  EXPECT_EQ(back.FWebplattformURL.get(), "http://kunde.example/webplattform");
  EXPECT_EQ(back.FDevWebplattformURL.get(), "http://localhost:8080/wp");
  EXPECT_EQ(back.FDienstVersuche.get(), 6);
  EXPECT_TRUE(back.DebugLog.get());
  EXPECT_FALSE(back.TestseitePublic.get());
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(KonfigurationFile, ConcurrentSavesAndReadsSeeWholeFiles) {
  // The window and a request thread may save at once while another program
  // reads the file: every read sees one complete file.
  TKonfiguration a, b;
  a.BasisPfad = b.BasisPfad = dir_ + "/";
  a.Sicherheitsschluessel = std::string(5000, 'a');
  b.Sicherheitsschluessel = std::string(7000, 'b');
  a.SaveToFile();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    TKonfiguration r;
    r.BasisPfad = dir_ + "/";
    while (!stop) {
      r.LoadFromFile();
      const std::string key = r.Sicherheitsschluessel;
      if (key != a.Sicherheitsschluessel.get() && key != b.Sicherheitsschluessel.get()) ++bad;
    }
  });
  std::thread other([&] {
    for (int i = 0; i < 200; ++i) b.SaveToFile();
  });
  for (int i = 0; i < 200; ++i) a.SaveToFile();
  other.join();
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(KonfigurationFile, FailedSaveLeavesNoTraceAndDoesNotThrow) {
  k_.BasisPfad = dir_ + "/fehlt/";
  EXPECT_NO_THROW(k_.SaveToFile());
  EXPECT_FALSE(fs::exists(dir_ + "/fehlt"));

  // A directory at the file's path stays a directory.
  k_.BasisPfad = dir_ + "/";
  fs::create_directory(Path());
  EXPECT_NO_THROW(k_.SaveToFile());
  EXPECT_TRUE(fs::is_directory(Path()));
}

TEST_F(KonfigurationFile, ReaderDuringReloadNeverSeesTheDefaults) {
  Load("SICHERHEITSSCHLUESSEL=geheim\r\nREPORT-POOL=8\r\n");
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::thread reader([&] {
    while (!stop) {
      if (k_.Sicherheitsschluessel.get() != "geheim" || k_.FReportPool.get() != 8) ++wrong;
    }
  });
  for (int i = 0; i < 300; ++i) k_.LoadFromFile();
  stop = true;
  reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(Konfiguration, StringFieldIsReplacedWhole) {
  TKonfiguration k;
  const std::string a(1000, 'a'), b(3000, 'b');
  k.Sicherheitsschluessel = a;
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      const std::string v = k.Sicherheitsschluessel;
      if (v != a && v != b) ++torn;
    }
  });
  for (int i = 0; i < 20000; ++i) k.Sicherheitsschluessel = (i % 2 ? a : b);
  stop = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
}

TEST(Konfiguration, SettersKeepTheIntegersPositive) {
  using Setter = void (TKonfiguration::*)(int32_t);
  using Field = SharedValue<int32_t> TKonfiguration::*;
  const std::pair<Setter, Field> pairs[] = {
      {&TKonfiguration::SetReportTimeout, &TKonfiguration::FReportTimeout},
      {&TKonfiguration::SetReportPool, &TKonfiguration::FReportPool},
      {&TKonfiguration::SetReportJobs, &TKonfiguration::FReportJobs},
      {&TKonfiguration::SetWarnLevel, &TKonfiguration::FWarnLevel},
      {&TKonfiguration::SetDienstInterval, &TKonfiguration::FDienstInterval},
      {&TKonfiguration::SetDienstVersuche, &TKonfiguration::FDienstVersuche},
  };
  const std::pair<int32_t, int32_t> values[] = {{0, 1}, {-5, 1}, {1, 1}, {42, 42}, {INT32_MIN, 1}};
  for (const auto& [set, field] : pairs) {
    for (const auto& [in, out] : values) {
      TKonfiguration k;
      (k.*set)(in);
      EXPECT_EQ((k.*field).get(), out) << in;
    }
  }
}

TEST(Konfiguration, AddressNormalisationAndMatching) {
  const std::pair<const char*, const char*> production[] = {
      {"https://host/webplattform/", "http://host/webplattform"},
      {"https://host/webplattform", "http://host/webplattform"},
      {"http://host/webplattform/", "http://host/webplattform"},
      {"HTTPS://host/", "HTTPS://host"},  // only the lower-case scheme is changed
      {"host//", "host/"},
      {"/", ""},
      {"", ""},
  };
  for (const auto& [in, out] : production) {
    TKonfiguration k;
    k.SetWebplattformURL(in);
    EXPECT_EQ(k.FWebplattformURL.get(), out) << in;
    EXPECT_TRUE(k.MatchesWebplattformURL(in)) << in;
  }
  TKonfiguration k;
  k.SetWebplattformURL("http://host/webplattform");
  EXPECT_TRUE(k.MatchesWebplattformURL("https://host/webplattform/"));
  EXPECT_FALSE(k.MatchesWebplattformURL("http://HOST/webplattform"));
  EXPECT_FALSE(k.MatchesWebplattformURL("http://host/webplattform//"));
  EXPECT_EQ(k.FWebplattformURL.get(), "http://host/webplattform");  // matching stores nothing

  k.SetDevWebplattformURL("https://dev/wp/");
  EXPECT_EQ(k.FDevWebplattformURL.get(), "https://dev/wp");
  EXPECT_EQ(k.GetEffectiveWebplattformURL(), "http://host/webplattform");
  k.DevMode = true;
  EXPECT_EQ(k.GetEffectiveWebplattformURL(), "https://dev/wp");
}

TEST(Konfiguration, IsLocalURLTestsThePrefixOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"HTTP://LOCALHOST:8080/x", true},
      {"https://localhost/webplattform", true},
      {"http://127.0.0.1:50600", true},
      {"https://127.0.0.1", true},
      {"http://localhost.example.com", true},
      {"http://192.168.1.2/webplattform", false},
      {"http://www.tarvo.de", false},
      {"ftp://localhost", false},
      {" http://localhost", false},
      {"", false},
  };
  TKonfiguration k;
  for (const auto& [url, local] : cases) EXPECT_EQ(k.IsLocalURL(url), local) << url;
}

TEST(Konfiguration, AutoUpdateTime) {
  const std::tuple<const char*, int, int> cases[] = {
      {"7:30", 7, 30}, {"07:05", 7, 5}, {"23:59", 23, 59}, {"0:0", 0, 0},
      {"12:15:99", 12, 15},                                   // further parts are ignored
      {"", 0, 0},      {"7", 0, 0},     {"7.30", 0, 0},     {"24:00", 0, 0},
      {"12:60", 0, 0}, {"-1:30", 0, 0}, {"a:30", 0, 0},     {"12:", 0, 0},
      {":30", 0, 0},   {"99999999999:1", 0, 0},
  };
  for (const auto& [text, hour, minute] : cases) {
    TKonfiguration k;
    k.AutoUpdateTime = std::string(text);
    EXPECT_EQ(k.GetAutoUpdateTime(), (DateTime{0, 0, 0, hour, minute, 0, 0})) << text;
  }
}

TEST(Konfiguration, ContainsEvent) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"CHANGELOG,FHT_CHANGELOG", "changelog", true},
      {"CHANGELOG,FHT_CHANGELOG", "FHT_CHANGELOG", true},
      {"CHANGELOG, FHT_CHANGELOG", "FHT_CHANGELOG", false},  // the blank stays part of the item
      {"CHANGELOG, FHT_CHANGELOG", " fht_changelog", true},
      {"CHANGELOG", "CHANGE", false},
      {"\xC3\x84NDERUNG", "\xC3\xA4nderung", true},  // ÄNDERUNG / änderung
      {"", "", false},
      {"A,,B", "", true},
      {"", "CHANGELOG", false},
  };
  for (const auto& [list, name, found] : cases) {
    TKonfiguration k;
    k.EventsNames = std::string(list);
    EXPECT_EQ(k.ContainsEvent(name), found) << list << " / " << name;
  }
}

TEST(Konfiguration, VersionAndOperatingSystem) {
  TKonfiguration k;
  EXPECT_EQ(k.GetAppVersion(),
            std::to_string(TARVO_VERSION_MAJOR) + "." + std::to_string(TARVO_VERSION_MINOR));
  const std::string os = k.GetBetriebssystem();
  EXPECT_NE(os, "?");
  EXPECT_EQ(os.find('\n'), std::string::npos);
  EXPECT_NE(os.find("Linux"), std::string::npos);
}

TEST(Konfiguration, ProcessWideInstanceStartsInTheExecutableFolder) {
  const std::string folder = Konfiguration().BasisPfad;
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(&Konfiguration(), &Konfiguration());
  EXPECT_EQ(Konfiguration().FileName(), folder + "tarvoserver.ini");
}

}  // namespace
}  // namespace tarvo
