#include "common/Konfiguration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <limits>
#include <vector>

#include "common/Codepage.h"
#include "common/Platform.h"
#include "common/TextUtil.h"

namespace tarvo {

const char* const kProductionWebplattformURL = "https://www.tarvo.de/webplattform";

namespace {

constexpr const char* kDefaultDevURL = "http://localhost/webplattform";
constexpr const char* kDefaultPort = "50600";
constexpr const char* kDefaultDatenbankpfad =
    "localhost/3050:C:\\Program Files (x86)\\TarvoWw\\Daten\\TARVOWW.IB";
// More than any real settings file; the rest of a larger file is ignored.
constexpr size_t kMaxFileBytes = 1 << 20;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// Upper case of UTF-8 text for the letters of Windows-1252 (ASCII, the
// Latin-1 letters, š ž œ ÿ); other characters stay as they are.
std::string UpperCase(const std::string& s) {
  const std::string cp = Utf8ToCp1252(s);
  // Compare in the code page only when the text survives the round trip.
  if (Cp1252ToUtf8(cp) != s) {
    std::string out = s;
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
  }
  std::string up = cp;
  for (char& c : up) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z')
      c = static_cast<char>(b - 32);
    else if (b >= 0xE0 && b <= 0xFE && b != 0xF7)
      c = static_cast<char>(b - 32);
    else if (b == 0x9A || b == 0x9C || b == 0x9E)  // š œ ž
      c = static_cast<char>(b - 16);
    else if (b == 0xFF)  // ÿ
      c = static_cast<char>(0x9F);
  }
  return Cp1252ToUtf8(up);
}

// Decodes the file's bytes: a byte-order mark selects UTF-8 or UTF-16
// (little or big endian); otherwise Windows-1252.
std::string DecodeFileText(const std::string& bytes) {
  auto startsWith = [&](std::string_view bom) {
    return bytes.size() >= bom.size() && std::string_view(bytes).substr(0, bom.size()) == bom;
  };
  if (startsWith("\xEF\xBB\xBF")) {
    // Keep valid sequences; anything else is read byte by byte as the code page.
    const std::string_view body = std::string_view(bytes).substr(3);
    return IsValidUtf8(body) ? std::string(body) : Cp1252ToUtf8(body);
  }
  const bool le = startsWith("\xFF\xFE");
  const bool be = startsWith("\xFE\xFF");
  if (!le && !be) return Cp1252ToUtf8(bytes);
  std::string out;
  auto unit = [&](size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return le ? static_cast<char32_t>(a | (b << 8)) : static_cast<char32_t>((a << 8) | b);
  };
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    char32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t lo = unit(i + 2);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // lone surrogate
    AppendUtf8(out, cp);
  }
  return out;
}

// Reads at most kMaxFileBytes; false when the file cannot be opened or read.
bool ReadFileCapped(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  bytes.clear();
  char buf[65536];
  bool ok = true;
  while (bytes.size() < kMaxFileBytes) {
    const size_t want = std::min(sizeof buf, kMaxFileBytes - bytes.size());
    const ssize_t n = ::read(fd, buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Values of the keys in one file, looked up the way the reader does.
class KeyLines {
 public:
  explicit KeyLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  // The trimmed value of the first line whose name part equals `key`
  // ignoring case; empty when there is none.
  std::string Value(std::string_view key) const {
    for (const auto& line : lines_) {
      const auto eq = line.find('=');
      if (eq == std::string::npos) continue;
      if (EqualsIgnoreCase(std::string_view(line).substr(0, eq), key))
        return Trim(line.substr(eq + 1));
    }
    return {};
  }

 private:
  std::vector<std::string> lines_;
};

const char* JaNein(bool v) { return v ? "JA" : "NEIN"; }

}  // namespace

std::string TKonfiguration::FileName() const {
  std::string base = BasisPfad.get();
  if (!base.empty() && base.back() != '/') base.push_back('/');
  return base + "tarvoserver.ini";
}

void TKonfiguration::LoadFromFile() {
  // Build the new values aside and copy them over field by field, so that a
  // reader on another thread never sees the defaults of a reset in between.
  TKonfiguration k;
  k.BasisPfad = BasisPfad.get();
  k.SetWebplattformURL("");
  k.SetDevWebplattformURL("");
  k.SetReportTimeout(30);
  k.SetReportPool(5);
  k.SetReportJobs(3);
  k.SetWarnLevel(3);
  k.SetDienstInterval(20);
  k.SetDienstVersuche(3);

  try {
    std::string bytes;
    if (ReadFileCapped(k.FileName(), bytes)) {
      const KeyLines file(SplitLines(DecodeFileText(bytes)));
      auto boolean = [&](const char* key, SharedValue<bool>& field) {
        field = file.Value(key) == "JA";
      };
      auto integer = [&](const char* key, SharedValue<int32_t>& field,
                         void (TKonfiguration::*setter)(int32_t), int32_t def) {
        int32_t v;
        if (TryParseInt(file.Value(key), v))
          field = v;
        else
          (k.*setter)(def);
      };
      k.AutoUpdateTime = file.Value("AUTO-UPDATE-TIME");
      k.AutoUpdateAufgabe = file.Value("AUTO-UPDATE-AUFGABE");
      k.SetDevWebplattformURL(file.Value("DEV-WEBPLATTFORM-URL"));
      k.SetWebplattformURL(file.Value("WEBPLATTFORM-URL"));
      k.TarvoServerPort = file.Value("TARVO-SERVER-PORT");
      k.Sicherheitsschluessel = file.Value("SICHERHEITSSCHLUESSEL");
      k.Datenbankpfad = file.Value("DATENBANKPFAD");
      k.EventsNames = file.Value("EVENTS-NAMES");
      k.DienstName = file.Value("DIENST-NAME");
      integer("REPORT-TIMEOUT", k.FReportTimeout, &TKonfiguration::SetReportTimeout, 30);
      integer("REPORT-POOL", k.FReportPool, &TKonfiguration::SetReportPool, 5);
      integer("REPORT-JOBS", k.FReportJobs, &TKonfiguration::SetReportJobs, 3);
      integer("WARN-LEVEL", k.FWarnLevel, &TKonfiguration::SetWarnLevel, 3);
      integer("DIENST-INTERVAL", k.FDienstInterval, &TKonfiguration::SetDienstInterval, 20);
      integer("DIENST-VERSUCHE", k.FDienstVersuche, &TKonfiguration::SetDienstVersuche, 3);
      boolean("UPDATE-TEST", k.UpdateTest);
      boolean("DEV-MODE", k.DevMode);
      boolean("EVENTS", k.Events);
      boolean("DIENST", k.Dienst);
      boolean("AUTO-UPDATE", k.AutoUpdate);
      boolean("INFOLOG", k.InfoLog);
      boolean("ERRORLOG", k.ErrorLog);
      boolean("TRACELOG", k.TraceLog);
      boolean("DEBUGLOG", k.DebugLog);
    }
  } catch (...) {
    // Keys applied so far stay.
  }

  if (k.FDevWebplattformURL.get().empty()) k.SetDevWebplattformURL(kDefaultDevURL);
  if (k.TarvoServerPort.get().empty()) k.TarvoServerPort = std::string(kDefaultPort);
  if (k.Datenbankpfad.get().empty()) k.Datenbankpfad = std::string(kDefaultDatenbankpfad);
  if (k.FWebplattformURL.get().empty()) k.SetWebplattformURL(kProductionWebplattformURL);

  FWebplattformURL = k.FWebplattformURL;
  FDevWebplattformURL = k.FDevWebplattformURL;
  TarvoServerPort = k.TarvoServerPort;
  Sicherheitsschluessel = k.Sicherheitsschluessel;
  Datenbankpfad = k.Datenbankpfad;
  AutoUpdate = k.AutoUpdate;
  AutoUpdateTime = k.AutoUpdateTime;
  AutoUpdateAufgabe = k.AutoUpdateAufgabe;
  Events = k.Events;
  EventsNames = k.EventsNames;
  Dienst = k.Dienst;
  DienstName = k.DienstName;
  FReportTimeout = k.FReportTimeout;
  FReportPool = k.FReportPool;
  FReportJobs = k.FReportJobs;
  FWarnLevel = k.FWarnLevel;
  FDienstInterval = k.FDienstInterval;
  FDienstVersuche = k.FDienstVersuche;
  TestseitePublic = false;
  DevMode = k.DevMode;
  UpdateTest = k.UpdateTest;
  InfoLog = k.InfoLog;
  ErrorLog = k.ErrorLog;
  TraceLog = k.TraceLog;
  DebugLog = k.DebugLog;
}

void TKonfiguration::SaveToFile() const {
  try {
    std::string text;
    auto line = [&](const char* key, const std::string& value) {
      text += key;
      text += '=';
      text += value;
      text += "\r\n";
    };
    line("AUTO-UPDATE-TIME", AutoUpdateTime);
    line("AUTO-UPDATE-AUFGABE", AutoUpdateAufgabe);
    line("DEV-WEBPLATTFORM-URL", FDevWebplattformURL);
    line("WEBPLATTFORM-URL", FWebplattformURL);
    line("TARVO-SERVER-PORT", TarvoServerPort);
    line("SICHERHEITSSCHLUESSEL", Sicherheitsschluessel);
    line("DATENBANKPFAD", Datenbankpfad);
    line("EVENTS-NAMES", EventsNames);
    line("DIENST-NAME", DienstName);
    line("REPORT-TIMEOUT", std::to_string(FReportTimeout.get()));
    line("REPORT-POOL", std::to_string(FReportPool.get()));
    line("REPORT-JOBS", std::to_string(FReportJobs.get()));
    line("WARN-LEVEL", std::to_string(FWarnLevel.get()));
    line("DIENST-INTERVAL", std::to_string(FDienstInterval.get()));
    line("DIENST-VERSUCHE", std::to_string(FDienstVersuche.get()));
    line("UPDATE-TEST", JaNein(UpdateTest));
    line("DEV-MODE", JaNein(DevMode));
    line("EVENTS", JaNein(Events));
    line("DIENST", JaNein(Dienst));
    line("AUTO-UPDATE", JaNein(AutoUpdate));
    line("INFOLOG", JaNein(InfoLog));
    line("ERRORLOG", JaNein(ErrorLog));
    line("TRACELOG", JaNein(TraceLog));
    line("DEBUGLOG", JaNein(DebugLog));
    const std::string bytes = Utf8ToCp1252(text);

    // Written to a temporary file beside it and renamed over the old one, so
    // that a reader (the other programs) sees the whole old or the whole new
    // file and a failed write leaves the old file in place.
    const std::string path = FileName();
    // The name is unique per call: the window and a request thread may save
    // at the same moment.
    static std::atomic<unsigned> counter{0};
    const std::string temp = path + ".tmp" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
      const bool closed = ::close(fd) == 0;
      if (ok && closed && ::rename(temp.c_str(), path.c_str()) == 0) return;
      ::unlink(temp.c_str());
    }
    // The folder refuses new files: overwrite the file in place.
    const int direct = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (direct < 0) return;
    WriteAll(direct, bytes);
    ::close(direct);
  } catch (...) {
  }
}

std::string TKonfiguration::GetAppVersion() const {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d", TARVO_VERSION_MAJOR, TARVO_VERSION_MINOR);
  return text;
}

std::string TKonfiguration::GetBetriebssystem() const {
  try {
    utsname u{};
    if (uname(&u) != 0) return "?";
    std::string name;
    std::ifstream osRelease("/etc/os-release");
    for (std::string l; name.empty() && std::getline(osRelease, l);) {
      if (l.rfind("PRETTY_NAME=", 0) != 0) continue;
      std::string v = Trim(l.substr(12));
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      name = v;
    }
    const std::string machine = u.machine;
    const bool is64 = machine.find("64") != std::string::npos || machine == "s390x";
    std::string text = name.empty() ? std::string(u.sysname) : name;
    text += " (";
    text += u.sysname;
    text += ' ';
    text += u.release;
    text += ", ";
    text += machine;
    text += is64 ? ", 64-bit)" : ", 32-bit)";
    for (char& c : text)
      if (c == '\r' || c == '\n') c = ' ';
    return text;
  } catch (...) {
    return "?";
  }
}

std::string TKonfiguration::GetEffectiveWebplattformURL() const {
  return DevMode ? FDevWebplattformURL.get() : FWebplattformURL.get();
}

bool TKonfiguration::IsLocalURL(const std::string& url) const {
  const std::string lower = AsciiLower(url);
  for (const char* prefix :
       {"http://localhost", "https://localhost", "http://127.0.0.1", "https://127.0.0.1"})
    if (lower.rfind(prefix, 0) == 0) return true;
  return false;
}

DateTime TKonfiguration::GetAutoUpdateTime() const {
  DateTime t;
  const std::string value = AutoUpdateTime;
  const auto colon = value.find(':');
  if (colon == std::string::npos) return t;
  const auto next = value.find(':', colon + 1);
  int32_t hour, minute;
  if (!TryParseInt(value.substr(0, colon), hour) ||
      !TryParseInt(value.substr(colon + 1, next == std::string::npos ? std::string::npos
                                                                       : next - colon - 1),
                     minute))
    return t;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return t;
  t.hour = hour;
  t.minute = minute;
  return t;
}

bool TKonfiguration::ContainsEvent(const std::string& name) const {
  const std::string list = EventsNames;
  if (list.empty()) return false;
  const std::string wanted = UpperCase(name);
  size_t start = 0;
  while (true) {
    const auto comma = list.find(',', start);
    const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                           : comma - start);
    if (UpperCase(item) == wanted) return true;
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

namespace {
std::string NormalizeProductionURL(std::string value) {
  if (!value.empty() && value.back() == '/') value.pop_back();
  if (value.rfind("https", 0) == 0) value.replace(0, 5, "http");
  return value;
}
}  // namespace

bool TKonfiguration::MatchesWebplattformURL(const std::string& value) const {
  return NormalizeProductionURL(value) == FWebplattformURL.get();
}

void TKonfiguration::SetWebplattformURL(const std::string& value) {
  FWebplattformURL = NormalizeProductionURL(value);
}

void TKonfiguration::SetDevWebplattformURL(const std::string& value) {
  std::string v = value;
  if (!v.empty() && v.back() == '/') v.pop_back();
  FDevWebplattformURL = std::move(v);
}

void TKonfiguration::SetReportTimeout(int32_t value) { FReportTimeout = value > 0 ? value : 1; }
void TKonfiguration::SetReportPool(int32_t value) { FReportPool = value > 0 ? value : 1; }
void TKonfiguration::SetReportJobs(int32_t value) { FReportJobs = value > 0 ? value : 1; }
void TKonfiguration::SetWarnLevel(int32_t value) { FWarnLevel = value > 0 ? value : 1; }
void TKonfiguration::SetDienstInterval(int32_t value) { FDienstInterval = value > 0 ? value : 1; }
void TKonfiguration::SetDienstVersuche(int32_t value) { FDienstVersuche = value > 0 ? value : 1; }

TKonfiguration& Konfiguration() {
  // Never destroyed: threads that still run while the program ends (the log
  // writer, request threads) may read it until the very last moment.
  static TKonfiguration* instance = [] {
    auto* k = new TKonfiguration;
    k->BasisPfad = ExecutableFolder();
    return k;
  }();
  return *instance;
}

}  // namespace tarvo
