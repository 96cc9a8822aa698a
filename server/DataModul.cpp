#include "server/DataModul.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "common/Codepage.h"
#include "server/RowFormat.h"
#include "server/WebText.h"

namespace tarvo::server {
namespace {

constexpr const char* kAdressenSql =
    "SELECT ADR.KENNZIFFER, ADR.ORT, ADR.PLZ, ADR.NAME1, ADR.NAME2, ADR.NAME3, ADR.STRASSE, ADR.HINWEIS, "
    "ADR.GRUPPE, ADR.GESPERRT, ADR.GEBURTSTAG, ADR.LAND FROM ADRESSEN ADR";

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
}

}  // namespace

std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("MD5 failed");
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(len * 2);
  for (unsigned i = 0; i < len; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 15]);
  }
  return out;
}

std::string EscapeJsonText(std::string_view text) {
  std::string s(text);
  ReplaceAll(s, "\\", "\\\\");
  ReplaceAll(s, "/", "\\/");
  ReplaceAll(s, "\n", "\\n");
  ReplaceAll(s, "\r", "\\r");
  ReplaceAll(s, "\b", "\\b");
  ReplaceAll(s, "\t", "\\t");
  ReplaceAll(s, "\f", "\\f");
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return s;
}

void AppendLegacyJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '/': out.append("\\/"); break;
      case '\b': out.append("\\b"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\f': out.append("\\f"); break;
      case '\r': out.append("\\r"); break;
      default: out.push_back(c); break;
    }
  }
  out.push_back('"');
}

std::string QueryToJson(db::TIBRQuery& query,
                        const std::function<std::string(const std::string&)>& rtfBlobToText) {
  if (!query.Active()) query.Open();
  const int n = query.FieldCount();
  std::vector<std::string> names;
  std::vector<bool> rawBlob;
  names.reserve(n);
  for (int i = 0; i < n; ++i) {
    names.push_back(LowerColumnName(query.FieldName(i)));
    rawBlob.push_back(query.Kind(i) == db::FieldKind::BinaryBlob);
  }
  std::string out = "{\"query\":[";
  bool firstRow = true;
  while (!query.Eof()) {
    if (!firstRow) out.push_back(',');
    firstRow = false;
    out.push_back('{');
    for (int i = 0; i < n; ++i) {
      if (i > 0) out.push_back(',');
      AppendLegacyJsonString(out, names[i]);
      out.push_back(':');
      std::string text;
      if (!query.IsNull(i)) text = rawBlob[i] ? rtfBlobToText(query.AsBytes(i)) : query.AsText(i);
      AppendLegacyJsonString(out, EscapeJsonText(text));
    }
    out.push_back('}');
    query.Next();
  }
  out += "]}";
  return out;
}

TDatamod::TDatamod(std::function<std::string(const std::string&)> parseRtf) : parseRtf_(std::move(parseRtf)) {}

TDatamod::~TDatamod() = default;

void TDatamod::AttachDatabase(db::TIBRDATABASE& database) {
  if (Fdatenbank != &database) {
    TmpQuery.reset();
    AdressenQuery.reset();
    Fdatenbank = &database;
  }
  if (!database.Connected()) database.Open();
  if (!TmpQuery) TmpQuery = std::make_unique<db::TIBRQuery>(database);
  if (!AdressenQuery) {
    AdressenQuery = std::make_unique<db::TIBRQuery>(database);
    AdressenQuery->SetSQL(kAdressenSql);
  }
}

std::string TDatamod::ReadSql(const std::string& sql) {
  if (!TmpQuery) throw std::logic_error("no database attached");
  TmpQuery->Close();
  TmpQuery->SetSQL(sql);
  TmpQuery->Open();
  std::string json = QueryToJson(*TmpQuery, [this](const std::string& b) { return RtfBlobToText(b); });
  TmpQuery->Close();
  return json;
}

std::string TDatamod::ExecuteSql(const std::string& sql) {
  if (!TmpQuery || !Fdatenbank) throw std::logic_error("no database attached");
  Fdatenbank->StartTransaction();
  try {
    TmpQuery->Close();
    TmpQuery->SetSQL(sql);
    TmpQuery->ExecSQL();
    if (Fdatenbank->InTransaction()) Fdatenbank->CommitRetaining();
    return "{ \"status\":\"OK\", \"message\":\"\" }";
  } catch (const std::exception& e) {
    try {
      if (Fdatenbank->InTransaction()) Fdatenbank->RollbackRetaining();
    } catch (...) {
    }
    std::string message = e.what();
    std::erase(message, '"');
    return "{ \"status\":\"error\", \"message\":\"" + EscapeJsonText(message) + "\" }";
  }
}

std::string TDatamod::RtfBlobToText(const std::string& bytes) const {
  std::string text = parseRtf_ ? parseRtf_(bytes) : bytes;
  // Plain text in the system's code page.
  if (!IsValidUtf8(text)) text = Cp1252ToUtf8(text);
  // One line per paragraph, each followed by CR LF.
  return LinesWithCrLf(text);
}

}  // namespace tarvo::server
