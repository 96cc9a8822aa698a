#include "tools/tarvoclient_write.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "server/DataModul.h"
#include "server/Envelope.h"
#include "server/TarvoClient.h"
#include "server/Token.h"

namespace tarvo::tools {
namespace {

using server::TClientResponse;
using server::TRequestStatement;
using server::TTarvoClient;

// SQL [NAME=VALUE ...] from args[first] on.
bool ReadStatement(const std::vector<std::string>& args, size_t first, TRequestStatement& s) {
  if (first >= args.size()) return false;
  s.Sql = args[first];
  for (size_t i = first + 1; i < args.size(); ++i) {
    std::string name, value;
    if (!SplitParam(args[i], name, value)) {
      std::fprintf(stderr, "tarvoclient: %s is no NAME=VALUE\n", args[i].c_str());
      return false;
    }
    s.Params.emplace_back(name, value);
  }
  return true;
}

std::string FormEncode(const std::string& text) {
  // application/x-www-form-urlencoded; the blank as "+".
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

int Write(const std::string& bytes, const std::string& outFile) {
  if (outFile.empty() || outFile == "-") {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  std::ofstream out(outFile, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 2;
}

int Usage() {
  std::fprintf(stderr,
               "  executestream FILE SQL [NAME=VALUE ...]   (FILE's bytes go to the parameter named BYTES; - = stdin)\n"
               "  invoke METHOD [NAME=VALUE ...]            (e.g. invoke Encrypt Value=text)\n"
               "  legacy-execute select|update|insert|delete SQL\n"
               "  settings\n"
               "  updateblob SQL CONTENT                     (SQL with the parameter :content)\n");
  return 2;
}

// The answer of an encrypted endpoint.
int Encrypted(const TTarvoClient& client, const TClientResponse& r, const std::string& outFile) {
  if (r.Status == 200) return Write(client.Decrypt(r.Body), outFile);
  std::fprintf(stderr, "tarvoclient: HTTP %d %s\n", r.Status, r.Reason.c_str());
  const bool encrypted = r.Status == 950 || r.Status == 951 || r.ContentType == "application/octet-stream";
  std::fprintf(stderr, "%s\n", (encrypted ? client.Decrypt(r.Body) : r.Body).c_str());
  return 1;
}

// The answer of a legacy endpoint, as sent.
int Plain(const TClientResponse& r, const std::string& outFile) {
  if (r.Status == 200) return Write(r.Body, outFile);
  std::fprintf(stderr, "tarvoclient: HTTP %d %s\n%s\n", r.Status, r.Reason.c_str(), r.Body.c_str());
  return 1;
}

}  // namespace

bool SplitParam(const std::string& arg, std::string& name, std::string& value) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  for (size_t i = 0; i < eq; ++i) {
    const unsigned char c = static_cast<unsigned char>(arg[i]);
    if (!(std::isalnum(c) || c == '_' || c == '$' || c >= 0x80)) return false;
  }
  name = arg.substr(0, eq);
  value = arg.substr(eq + 1);
  return true;
}

int RunWriteCommand(const std::vector<std::string>& args, const std::string& url, const std::string& key,
                    int timeoutSeconds, const std::string& outFile) {
  try {
    TTarvoClient client(url, key);
    client.SetTimeoutSeconds(timeoutSeconds);
    const std::string& command = args.at(0);
    const server::THeaders form = {{"Content-Type", "application/x-www-form-urlencoded"}};
    if (command == "executestream") {
      TRequestStatement s;
      if (args.size() < 3 || !ReadStatement(args, 2, s)) return Usage();
      std::string bytes;
      {
        std::ifstream in;
        std::istream* src = &std::cin;
        if (args[1] != "-") {
          in.open(args[1], std::ios::binary);
          if (!in) throw std::runtime_error("cannot read " + args[1]);
          src = &in;
        }
        std::ostringstream ss;
        ss << src->rdbuf();
        bytes = ss.str();
      }
      const std::string header = client.EncryptHeader(TTarvoClient::StatementBody(s));
      const TClientResponse r = client.Send("POST", "/v2/executestream",
                                            server::envelope::EncryptToBase64(key, std::move(bytes)),
                                            {{"x-qx-command", header}});
      return Encrypted(client, r, outFile);
    }
    if (command == "invoke") {
      TRequestStatement s;
      if (!ReadStatement(args, 1, s)) return Usage();
      std::string json;
      server::TJsonWriter w(json);
      w.BeginObject();
      w.Member("method", s.Sql);
      w.Key("params");
      w.BeginObject();
      for (const auto& [name, value] : s.Params) w.Member(name, value);
      w.EndObject();
      w.EndObject();
      return Encrypted(client, client.PostEncrypted("/v2/invoke", json), outFile);
    }
    if (command == "legacy-execute") {
      if (args.size() != 3) return Usage();
      std::string_view token;
      if (args[1] == "select") token = server::TStatementTokens::Select;
      else if (args[1] == "update") token = server::TStatementTokens::Update;
      else if (args[1] == "insert") token = server::TStatementTokens::Insert;
      else if (args[1] == "delete") token = server::TStatementTokens::Delete;
      else return Usage();
      const std::string body = "statement=" + server::Md5Hex(token) + "&sql=" + FormEncode(args[2]);
      return Plain(client.Send("POST", "/execute", body, form), outFile);
    }
    if (command == "settings") {
      if (args.size() != 1) return Usage();
      return Plain(client.Send("GET", "/settings", ""), outFile);
    }
    if (command == "updateblob") {
      if (args.size() != 3) return Usage();
      const std::string body = "sql=" + FormEncode(args[1]) + "&blobcontent=" + FormEncode(args[2]);
      return Plain(client.Send("POST", "/updateblob", body, form), outFile);
    }
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvoclient: %s\n", e.what());
    return 2;
  }
}

}  // namespace tarvo::tools
