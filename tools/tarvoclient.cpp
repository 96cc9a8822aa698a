// tarvoclient: sends requests to a Bridge server as the web platform does
// and prints the decrypted answer. See docs/client.md.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "server/TarvoClient.h"
#include "tools/tarvoclient_report.h"
#include "tools/tarvoclient_write.h"

using tarvo::server::TClientResponse;
using tarvo::server::TRequestStatement;
using tarvo::server::TTarvoClient;
using tarvo::tools::SplitParam;

namespace {

// How a command builds its body and shows its answer.
enum class Body { Statement, Batch, Json, Write, Report };
enum class Answer { Text, Bytes, Plain };

struct Command {
  const char* name;
  const char* path;
  Body body;
  Answer answer;
  const char* usage;
};

// One row per command; later commands are added here.
const Command kCommands[] = {
    {"query", "/v2/query", Body::Statement, Answer::Text, "query SQL [NAME=VALUE ...]"},
    {"querybatch", "/v2/querybatch", Body::Batch, Answer::Text, "querybatch SQL [NAME=VALUE ...] [SQL [NAME=VALUE ...]] ..."},
    {"stream", "/v2/stream", Body::Statement, Answer::Bytes, "stream SQL [NAME=VALUE ...]"},
    {"plainstream", "/v2/plainstream", Body::Statement, Answer::Plain, "plainstream SQL [NAME=VALUE ...]"},
    {"raw", nullptr, Body::Json, Answer::Text, "raw PATH JSON   (JSON sent encrypted as it stands)"},
    {"execute", "/v2/execute", Body::Statement, Answer::Text, "execute SQL [NAME=VALUE ...]"},
    {"executebatch", "/v2/executebatch", Body::Batch, Answer::Text, "executebatch SQL [NAME=VALUE ...] [SQL [NAME=VALUE ...]] ..."},
    {"configure", "/v2/execute", Body::Statement, Answer::Text, "configure TARVOSERVER:INI:EVENTS-NAMES=A,B [EVENTS=JA|NEIN]"},
    {"executestream", nullptr, Body::Write, Answer::Text, "executestream FILE SQL [NAME=VALUE ...]   (FILE to :BYTES)"},
    {"invoke", nullptr, Body::Write, Answer::Text, "invoke METHOD [NAME=VALUE ...]"},
    {"legacy-execute", nullptr, Body::Write, Answer::Text, "legacy-execute select|update|insert|delete SQL"},
    {"settings", nullptr, Body::Write, Answer::Text, "settings"},
    {"updateblob", nullptr, Body::Write, Answer::Text, "updateblob SQL CONTENT"},
    {"report", nullptr, Body::Report, Answer::Bytes, "report BEREICH ART NAME [format=pdf] [id=TOKEN] [cache] [NAME=VALUE ...]   (document to --out)"},
};

void Usage() {
  std::fprintf(stderr,
               "usage: tarvoclient --url URL --key KEY [--platform URL] [--out FILE] [--timeout S] COMMAND ...\n"
               "commands:\n");
  for (const auto& c : kCommands) std::fprintf(stderr, "  %s\n", c.usage);
  std::fprintf(stderr,
               "NAME=VALUE binds the parameter :NAME (values of the form YYYY-MM-DDThh:mm:ss go as date-times).\n"
               "In querybatch every argument that is not NAME=VALUE starts the next statement.\n");
}

int Write(const std::string& bytes, const std::string& outFile, bool newline) {
  if (outFile.empty() || outFile == "-") {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    if (newline) std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  std::ofstream out(outFile, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string url, key, platform, outFile;
  int timeout = 120;
  bool keySet = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (a == "--url") {
      if (!next(url)) return Usage(), 2;
    } else if (a == "--key") {
      if (!next(key)) return Usage(), 2;
      keySet = true;
    } else if (a == "--platform") {
      if (!next(platform)) return Usage(), 2;
    } else if (a == "--out") {
      if (!next(outFile)) return Usage(), 2;
    } else if (a == "--timeout") {
      std::string t;
      if (!next(t)) return Usage(), 2;
      timeout = std::atoi(t.c_str());
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      args.push_back(a);
    }
  }
  if (url.empty() || !keySet || args.empty()) {
    Usage();
    return 2;
  }
  const Command* command = nullptr;
  for (const auto& c : kCommands)
    if (args[0] == c.name) command = &c;
  if (!command) {
    std::fprintf(stderr, "tarvoclient: unknown command %s\n", args[0].c_str());
    Usage();
    return 2;
  }

  if (command->body == Body::Report) return tarvo::tools::RunReportCommand(args, url, key, timeout, outFile);
  if (command->body == Body::Write) return tarvo::tools::RunWriteCommand(args, url, key, timeout, outFile);
  std::string path = command->path ? command->path : "";
  std::string json;
  std::vector<TRequestStatement> statements;
  size_t first = 1;
  if (command->body == Body::Json) {
    if (args.size() != 3) return Usage(), 2;
    path = args[1];
    json = args[2];
  } else {
    for (size_t i = first; i < args.size(); ++i) {
      std::string name, value;
      if (!statements.empty() && SplitParam(args[i], name, value)) {
        statements.back().Params.emplace_back(name, value);
      } else if (statements.empty() || command->body == Body::Batch) {
        statements.push_back({args[i], {}});
      } else {
        std::fprintf(stderr, "tarvoclient: %s is no NAME=VALUE\n", args[i].c_str());
        return 2;
      }
    }
    if (statements.empty()) return Usage(), 2;
    json = command->body == Body::Batch ? TTarvoClient::BatchBody(statements)
                                        : TTarvoClient::StatementBody(statements.front());
  }

  try {
    TTarvoClient client(url, key);
    client.SetTimeoutSeconds(timeout);
    tarvo::server::THeaders headers;
    if (!platform.empty()) {
      std::string announce;
      tarvo::server::TJsonWriter w(announce);
      w.BeginObject();
      w.Member("url", platform);
      w.EndObject();
      headers.emplace_back("x-qx-platform", client.EncryptHeader(announce));
    }
    const TClientResponse r = client.PostEncrypted(path, json, headers);
    const bool encrypted = r.ContentType == "application/octet-stream" && command->answer != Answer::Plain;
    if (r.Status == 200) {
      if (command->answer == Answer::Plain) return Write(r.Body, outFile, false);
      const std::string plain = client.Decrypt(r.Body);
      return Write(plain, outFile, command->answer == Answer::Text);
    }
    std::fprintf(stderr, "tarvoclient: HTTP %d %s\n", r.Status, r.Reason.c_str());
    const std::string text = (r.Status == 950 || r.Status == 951 || encrypted) ? client.Decrypt(r.Body) : r.Body;
    std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvoclient: %s\n", e.what());
    return 2;
  }
}
