// The tarvoclient command "report": asks "/v2/report" for a rendered
// document and writes the decrypted bytes to --out (or standard output).
#pragma once

#include <string>
#include <vector>

namespace tarvo::tools {

// args: "report" BEREICH ART NAME [NAME=VALUE ...]. "format=" and "id="
// go into the request's root object, "cache" asks for the result cache,
// every other NAME=VALUE into "params". Returns 0 for 200, 1 for another
// status, 2 for a usage error or when the server cannot be reached.
int RunReportCommand(const std::vector<std::string>& args, const std::string& url, const std::string& key,
                     int timeoutSeconds, const std::string& outFile);

// The request body for those arguments (from BEREICH on); false on a usage
// error.
bool ReportBody(const std::vector<std::string>& args, std::string& json);

}  // namespace tarvo::tools
