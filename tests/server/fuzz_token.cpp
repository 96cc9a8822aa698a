// libFuzzer target: DecryptValue takes any text without crashing and
// answers empty for what is no token; a Latin-1 text survives
// EncryptValue and DecryptValue; the write and invoke body readers take
// any bytes, and so does the form-field reader of the legacy endpoints.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Codepage.h"
#include "server/Token.h"
#include "server/WebLegacy.h"
#include "server/WriteBody.h"

using namespace tarvo::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0:
    case 1: {
      const std::string plain = DecryptValue(input);
      // Whatever comes out is text of the system's code page.
      if (!tarvo::IsValidUtf8(plain)) std::abort();
      break;
    }
    case 2: {
      // Bytes that are Latin-1 characters in the system's code page too.
      std::string latin1;
      for (char c : input) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80 || b >= 0xA0) latin1.push_back(c);
      }
      const std::string text = tarvo::Cp1252ToUtf8(latin1);
      const std::string token = EncryptValue(text);
      if (token.find_first_of("+/= \r\n") != std::string::npos) std::abort();
      if (DecryptValue(token) != text) std::abort();
      break;
    }
    case 3: {
      const std::string text(input);
      try {
        ReadExecuteBatchBody(text);
      } catch (const EBadRequest&) {
      }
      try {
        ReadInvokeBody(text);
      } catch (const EBadRequest&) {
      }
      break;
    }
    case 4: {
      // Form fields of a legacy request: every field is found by its name.
      const TFormFields fields = ParseFormFields(input);
      for (const auto& [name, value] : fields)
        if (name.size() < 8 && FormField(fields, name).size() > input.size()) std::abort();
      break;
    }
  }
  return 0;
}
