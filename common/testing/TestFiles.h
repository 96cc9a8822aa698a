// Small file and process helpers of the tests.
#pragma once

#include <filesystem>
#include <string>

namespace tarvo::testing {

// The whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// What the shell command writes to standard output (empty when it cannot
// be started).
std::string Shell(const std::string& command);

}  // namespace tarvo::testing
