// Set-up shared by the report tests: reading files and command output,
// the export readers of tests/report/check_export.py, starting tarvoreport
// headless, its program folder and job files, and templates stored in a
// throwaway database.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <QColor>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/testing/TestFiles.h"

namespace tarvo::reporttest {

using tarvo::testing::ReadFile;
using tarvo::testing::Shell;

// The JSON the independent reader of `kind` gives for `file`; a test
// failure and an empty object when it does not answer with JSON.
nlohmann::json Check(const std::string& kind, const std::filesystem::path& file);

// Success when `words` occur in `text` in this order; a failure shows at
// most `shown` characters of the text.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& words,
                                   size_t shown = std::string::npos);

// An image of one colour encoded as `format` ("PNG", "JPEG"); `quality`
// as QImage::save takes it (-1: the format's default).
std::string SolidImage(int width, int height, const QColor& color, const char* format, int quality = -1);

// A started program, headless (no display variables, no terminal input,
// standard error discarded); `extraEnv` entries ("NAME=value") replace
// inherited variables of that name. Wait() gives its exit code, -3 when it
// ended by a signal, -2 when it could not be started, and -1 after killing
// it when it did not end within `limit`.
class ChildProcess {
 public:
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
               const std::vector<std::string>& extraEnv = {});
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();
  int Wait(std::chrono::seconds limit);

 private:
  pid_t pid_ = -1;
};

// Writes tarvoserver.ini into `dir`: the database and the trace log on.
void WriteServerIni(const std::filesystem::path& dir, const std::string& database);

// A fresh folder `dir` holding a copy of `program` as tarvoreport and a
// tarvoserver.ini for `database`.
void PrepareProgramFolder(const std::filesystem::path& dir, const std::filesystem::path& program,
                          const std::string& database);

// A web print job in area T-TOURISTIK for booking `nr`.
std::string JobText(const std::string& kind, const std::string& name, const std::string& format,
                    const std::string& nr);

// Writes the job (UTF-8) as tarvoreport<slot>.ini in Windows-1252.
void WriteJobFile(const std::filesystem::path& dir, int slot, const std::string& lines);

// Stores a template in VORLAGEN of `database` and commits.
void StoreTemplate(const std::string& database, int nr, const std::string& area, const std::string& kind,
                   const std::string& name, const std::string& xml, const std::string& doktyp = "F");

}  // namespace tarvo::reporttest
