// The worker's job: the argument scan, the job file tarvoreportN.ini and
// the web print job that turns it into tarvoreportN.pdf.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/DXLogger.h"
#include "common/IBTarvo.h"
#include "report/DruckEngineFastReport.h"

namespace tarvo::report {

struct Arguments {
  bool web = false;
  int pool = 0;
};

// Scans the arguments (without the program name) in upper case: "--WEB"
// sets web mode, "--POOL=N" the slot (the last one counts). Raises
// std::invalid_argument when N is no integer.
Arguments ScanArguments(const std::vector<std::string>& args);

struct PrintJob {
  std::string area, kind, name, format;
  ExternalParams params;
};

// YYYY-MM-DDThh:mm:ss (19 characters, separators at their places) naming a
// valid date and time; nothing otherwise.
std::optional<DateTime> ParseIsoDateTime(const std::string& text);

// The text of a file as UTF-8: a byte-order mark selects UTF-8 or UTF-16,
// otherwise the bytes are Windows-1252.
std::string DecodeTextFile(const std::string& bytes);

// Reads the lines of a job file (already decoded). Keys are trimmed and
// compared case-sensitively, values are taken as they stand; PARAM_ lines
// become parameters in line order, date-times when the value is ISO.
PrintJob ParseJobFile(const std::string& text);

// The web print job of slot `pool`: reads <folder>tarvoreportN.ini, exports
// to <folder>tarvoreportN.pdf and logs; never raises. On failure it writes
// the two error lines and leaves no output file.
void RunWebPrintJob(db::TIBRDATABASE& database, const std::string& folder, int pool,
                    const TLevelLogger& log);

}  // namespace tarvo::report
