#include "report/Druckauftrag.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QString>

#include "common/Codepage.h"
#include "common/TextUtil.h"

namespace tarvo::report {

namespace {

bool Digits(const std::string& s, size_t pos, size_t n, int& out) {
  out = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// A worker killed while writing leaves its temporary file; the next job of
// the slot removes it.
void RemoveStaleTemporaries(const std::string& output) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path out(output);
  const std::string prefix = out.filename().string() + ".tmp";
  for (const auto& e : fs::directory_iterator(out.parent_path(), ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) fs::remove(e.path(), ec);
  }
}

}  // namespace

Arguments ScanArguments(const std::vector<std::string>& args) {
  Arguments a;
  for (const auto& raw : args) {
    const std::string arg = AsciiUpper(raw);
    if (arg == "--WEB") {
      a.web = true;
    } else if (arg.rfind("--POOL=", 0) == 0) {
      const std::string n = arg.substr(7);
      int value = 0;
      const char* begin = n.data();
      if (!n.empty() && n[0] == '+') ++begin;
      auto r = std::from_chars(begin, n.data() + n.size(), value);
      if (n.empty() || r.ec != std::errc() || r.ptr != n.data() + n.size())
        throw std::invalid_argument("'" + raw.substr(7) + "' ist kein gültiger Integerwert");
      a.pool = value;
    }
  }
  return a;
}

std::optional<DateTime> ParseIsoDateTime(const std::string& t) {
  if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':')
    return std::nullopt;
  DateTime d;
  if (!Digits(t, 0, 4, d.year) || !Digits(t, 5, 2, d.month) || !Digits(t, 8, 2, d.day) ||
      !Digits(t, 11, 2, d.hour) || !Digits(t, 14, 2, d.minute) || !Digits(t, 17, 2, d.second))
    return std::nullopt;
  if (!d.HasValidDate() || !d.HasValidTime()) return std::nullopt;
  return d;
}

std::string DecodeTextFile(const std::string& bytes) {
  auto starts = [&](const char* bom, size_t n) { return bytes.size() >= n && bytes.compare(0, n, bom, n) == 0; };
  if (starts("\xEF\xBB\xBF", 3)) return bytes.substr(3);
  if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
    const bool le = bytes[0] == '\xFF';
    std::u16string u;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto lo = static_cast<unsigned char>(bytes[i + (le ? 0 : 1)]);
      const auto hi = static_cast<unsigned char>(bytes[i + (le ? 1 : 0)]);
      u.push_back(static_cast<char16_t>(hi << 8 | lo));
    }
    return QString::fromStdU16String(u).toStdString();
  }
  return Cp1252ToUtf8(bytes);
}

PrintJob ParseJobFile(const std::string& text) {
  PrintJob job;
  // Lines end with CR LF, LF or CR.
  std::vector<std::string> lines;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  for (const auto& line : lines) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = line.substr(eq + 1);
    if (key == "BEREICH") job.area = value;
    else if (key == "ART") job.kind = value;
    else if (key == "NAME") job.name = value;
    else if (key == "FORMAT") job.format = value;
    else if (key.rfind("PARAM_", 0) == 0) {
      if (auto dt = ParseIsoDateTime(value)) job.params.push_back({key.substr(6), Value(*dt)});
      else job.params.push_back({key.substr(6), Value(value)});
    }
  }
  return job;
}

void RunWebPrintJob(db::TIBRDATABASE& database, const std::string& folder, int pool,
                    const TLevelLogger& log) {
  const std::string jobFile = folder + "tarvoreport" + std::to_string(pool) + ".ini";
  log.LogTrace("Loading Print Parameters: " + jobFile);
  PrintJob job;
  try {
    std::ifstream f(jobFile, std::ios::binary);
    if (!f) throw std::runtime_error("Die Auftragsdatei " + jobFile + " kann nicht gelesen werden");
    std::ostringstream s;
    s << f.rdbuf();
    job = ParseJobFile(DecodeTextFile(s.str()));
    const std::string output = folder + "tarvoreport" + std::to_string(pool) + ".pdf";
    log.LogTrace("Print and Write PDF-File: " + output);
    RemoveStaleTemporaries(output);
    ExportReportToFile(database, job.area, job.kind, job.name, job.params, job.format, output);
  } catch (const std::exception& e) {
    log.LogError(std::string("Printing Error: ") + e.what());
    log.LogError("Formular: bereich=" + job.area + ", art=" + job.kind + ", name=" + job.name);
  } catch (...) {
    log.LogError("Printing Error: unbekannter Fehler");
    log.LogError("Formular: bereich=" + job.area + ", art=" + job.kind + ", name=" + job.name);
  }
}

}  // namespace tarvo::report
