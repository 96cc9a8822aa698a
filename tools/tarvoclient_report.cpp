#include "tools/tarvoclient_report.h"

#include <cstdio>
#include <fstream>

#include "server/JSONSupport.h"
#include "server/TarvoClient.h"

namespace tarvo::tools {

bool ReportBody(const std::vector<std::string>& args, std::string& json) {
  if (args.size() < 3) return false;
  std::string format, id;
  std::vector<std::pair<std::string, std::string>> params;
  for (size_t i = 3; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "cache") {
      params.emplace_back("X-QX-REPORT-CACHE", "JA");
      continue;
    }
    const size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "tarvoclient: %s is no NAME=VALUE\n", a.c_str());
      return false;
    }
    const std::string name = a.substr(0, eq), value = a.substr(eq + 1);
    if (name == "format")
      format = value;
    else if (name == "id")
      id = value;
    else
      params.emplace_back(name, value);
  }
  json.clear();
  server::TJsonWriter w(json);
  w.BeginObject();
  w.Member("bereich", args[0]);
  w.Member("art", args[1]);
  w.Member("name", args[2]);
  if (!format.empty()) w.Member("format", format);
  if (!id.empty()) w.Member("id", id);
  w.Key("params");
  w.BeginObject();
  for (const auto& [n, v] : params) w.Member(n, v);
  w.EndObject();
  w.EndObject();
  return true;
}

int RunReportCommand(const std::vector<std::string>& args, const std::string& url, const std::string& key,
                     int timeoutSeconds, const std::string& outFile) {
  std::string json;
  if (!ReportBody(std::vector<std::string>(args.begin() + 1, args.end()), json)) {
    std::fprintf(stderr, "usage: tarvoclient ... report BEREICH ART NAME [format=pdf|html|...] [id=TOKEN] [cache] "
                         "[NAME=VALUE ...]\n");
    return 2;
  }
  try {
    server::TTarvoClient client(url, key);
    client.SetTimeoutSeconds(timeoutSeconds);
    const server::TClientResponse r = client.PostEncrypted("/v2/report", json);
    if (r.Status == 200) {
      const std::string doc = client.Decrypt(r.Body);
      if (outFile.empty() || outFile == "-") {
        std::fwrite(doc.data(), 1, doc.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 2;
      }
      std::ofstream out(outFile, std::ios::binary);
      out.write(doc.data(), static_cast<std::streamsize>(doc.size()));
      out.close();
      if (!out) {
        std::fprintf(stderr, "tarvoclient: cannot write %s\n", outFile.c_str());
        return 2;
      }
      std::fprintf(stderr, "tarvoclient: %zu bytes written to %s\n", doc.size(), outFile.c_str());
      return 0;
    }
    std::fprintf(stderr, "tarvoclient: HTTP %d %s\n", r.Status, r.Reason.c_str());
    const bool encrypted = r.Status == 950 || r.Status == 951;
    std::fprintf(stderr, "%s\n", (encrypted ? client.Decrypt(r.Body) : r.Body).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvoclient: %s\n", e.what());
    return 2;
  }
}

}  // namespace tarvo::tools
