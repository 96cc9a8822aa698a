#include "server/WriteBody.h"

#include "server/StatementBodyReader.h"

namespace tarvo::server {

std::string UpperText(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 32);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // U+00E0..U+00FE without U+00F7 (division sign): minus 0x20.
      const auto d = static_cast<unsigned char>(out[i + 1]);
      if (d >= 0xA0 && d <= 0xBE && d != 0xB7) out[i + 1] = static_cast<char>(d - 0x20);
      ++i;
    }
  }
  return out;
}

std::vector<TRequestStatement> ReadExecuteBatchBody(std::string_view text) {
  TStatementBodyReader reader(TStatementBodyReader::Mode::ExecuteBatch);
  RunBodyReader(reader, text);
  return std::move(reader.batch);
}

TRequestStatement ReadInvokeBody(std::string_view text) {
  TStatementBodyReader reader(TStatementBodyReader::Mode::Invoke);
  RunBodyReader(reader, text);
  return std::move(reader.single);
}

}  // namespace tarvo::server
