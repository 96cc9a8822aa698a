// libFuzzer target: the request-body readers and the envelope decoder must
// take any bytes without crashing, and what they write must read back.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Codepage.h"
#include "server/Envelope.h"
#include "server/JSONSupport.h"

using namespace tarvo::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: {
      // A request body as it arrives: Base64 text of an encrypted payload.
      const std::string text = PayloadToText(envelope::DecryptFromBase64("fuzz", input));
      try {
        ReadStatementBody(text);
      } catch (const EBadRequest&) {
      }
      break;
    }
    case 1: {
      const std::string text = PayloadToText(input);
      try {
        ReadStatementBody(text);
      } catch (const EBadRequest&) {
      }
      try {
        ReadBatchBody(text);
      } catch (const EBadRequest&) {
      }
      try {
        ReadRootMember(text, "url");
      } catch (const EBadRequest&) {
      }
      break;
    }
    case 2: {
      // Encoding and decoding are inverse.
      if (envelope::Base64DecodeLenient(envelope::Base64EncodeMime(input)) != input) std::abort();
      std::string copy(input);
      const auto key = envelope::Make256BitKey("fuzz");
      envelope::AesCtrInPlace(key, copy.data(), copy.size(), true);
      envelope::AesCtrInPlace(key, copy.data(), copy.size(), false);
      if (copy != input) std::abort();
      break;
    }
    case 3: {
      // Written strings are valid UTF-8 JSON and read back as the
      // sanitised text.
      std::string json;
      AppendJsonString(json, input);
      if (!tarvo::IsValidUtf8(json)) std::abort();
      const auto parsed = nlohmann::json::parse(json, nullptr, false);
      if (parsed.is_discarded() || parsed.get<std::string>() != PayloadToText(input)) {
        // PayloadToText also drops a leading byte-order mark.
        if (!(input.size() >= 3 && input.substr(0, 3) == "\xEF\xBB\xBF")) std::abort();
      }
      break;
    }
    case 4: {
      // A statement written by the client reads back unchanged.
      TRequestStatement s;
      s.Sql = PayloadToText(input);
      if (s.Sql.size() >= 3 && s.Sql.substr(0, 3) == "\xEF\xBB\xBF") break;
      s.Params.emplace_back("P", s.Sql);
      std::string body;
      TJsonWriter w(body);
      w.BeginObject();
      w.Member("sql", s.Sql);
      w.Key("params");
      w.BeginObject();
      w.Member("P", s.Sql);
      w.EndObject();
      w.EndObject();
      const TRequestStatement r = ReadStatementBody(body);
      if (r.Sql != s.Sql || r.Params != s.Params) std::abort();
      break;
    }
  }
  return 0;
}
