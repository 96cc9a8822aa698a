#include "report/engine/Export.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "report/engine/ExportCsv.h"
#include "report/engine/ExportHtml.h"
#include "report/engine/ExportJpeg.h"
#include "report/engine/ExportRtf.h"
#include "report/engine/PdfExport.h"

namespace tarvo::report {

namespace {
std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
std::map<std::string, ExporterFactory>& Registry() {
  static std::map<std::string, ExporterFactory> registry = [] {
    std::map<std::string, ExporterFactory> r;
    r["PDF"] = [] { return std::make_unique<PdfExporter>(); };
    r["RTF"] = [] { return std::make_unique<RtfExporter>(); };
    r["CSV"] = [] { return std::make_unique<CsvExporter>(); };
    r["JPG"] = [] { return std::make_unique<JpegExporter>(); };
    r["HTML"] = [] { return std::make_unique<HtmlExporter>(); };
    r["HTM"] = [] { return std::make_unique<Html5DivExporter>(); };
    return r;
  }();
  return registry;
}
std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

void RegisterExporter(const std::string& format, ExporterFactory factory) {
  std::lock_guard lock(RegistryMutex());
  Registry()[Upper(format)] = std::move(factory);
}

std::unique_ptr<IExporter> ExporterFor(const std::string& format) {
  std::lock_guard lock(RegistryMutex());
  auto it = Registry().find(Upper(format));
  return it == Registry().end() ? nullptr : it->second();
}

std::string TemporaryNameFor(const std::string& path) {
  return path + ".tmp" + std::to_string(::getpid());
}

void CommitTemporary(const std::string& temporary, const std::string& path) {
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::remove(temporary.c_str());
    throw EExportError("Die Datei " + path + " kann nicht geschrieben werden: " + why);
  }
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  const std::string tmp = TemporaryNameFor(path);
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) throw EExportError("Die Datei " + path + " kann nicht geschrieben werden: " + std::strerror(errno));
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::remove(tmp.c_str());
    throw EExportError("Die Datei " + path + " kann nicht geschrieben werden");
  }
  CommitTemporary(tmp, path);
}

std::string PageText(const PreparedPage& page) {
  std::string out;
  for (const auto& item : page.items)
    if (item.kind == PreparedItem::Kind::TextRun) {
      out += item.text;
      out += '\n';
    }
  return out;
}

}  // namespace tarvo::report
