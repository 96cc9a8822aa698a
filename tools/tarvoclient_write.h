// The tarvoclient commands of the write, invoke and legacy endpoints that
// need more than an encrypted JSON body (see docs/client-write.md).
#pragma once

#include <string>
#include <vector>

namespace tarvo::tools {

// `args[0]` is the command name: executestream, invoke, legacy-execute,
// settings, updateblob. Returns the exit status (0 for 200, 1 for another
// status, 2 for a usage error or when the server cannot be reached).
int RunWriteCommand(const std::vector<std::string>& args, const std::string& url, const std::string& key,
                    int timeoutSeconds, const std::string& outFile);

// Splits a NAME=VALUE argument (NAME an identifier); false when it is none.
bool SplitParam(const std::string& arg, std::string& name, std::string& value);

}  // namespace tarvo::tools
