// Exporters turn a prepared report into one file. One exporter per format
// name; the names are compared in upper case.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "report/engine/Prepared.h"

namespace tarvo::report {

class EExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Document information an exporter writes where its format has it.
struct DocumentInfo {
  std::string title;
  std::string author;
  std::string subject;
  std::string creator;
};

class IExporter {
 public:
  virtual ~IExporter() = default;
  // Writes `report` to `path`. The file appears complete or not at all: it
  // is written under a temporary name beside `path` and renamed. Raises
  // EExportError.
  virtual void Export(const PreparedReport& report, const std::string& path,
                      const DocumentInfo& info) = 0;
};

using ExporterFactory = std::function<std::unique_ptr<IExporter>()>;

// Registers a format (upper-cased); later registrations replace earlier ones.
void RegisterExporter(const std::string& format, ExporterFactory factory);
// The exporter for `format` in any letter case; null when unsupported.
std::unique_ptr<IExporter> ExporterFor(const std::string& format);

// Writes `bytes` to `path` through a temporary file in the same folder and a
// rename; raises EExportError and leaves nothing behind on failure.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
// A temporary name beside `path` for exporters that write a file themselves.
std::string TemporaryNameFor(const std::string& path);
// Renames `temporary` to `path`, removing `temporary` on failure (raises).
void CommitTemporary(const std::string& temporary, const std::string& path);

}  // namespace tarvo::report
