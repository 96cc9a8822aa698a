// Runs a request body through one of the server's SAX body readers.
#pragma once

#include <nlohmann/json.hpp>

#include <exception>
#include <string_view>

#include "server/JSONSupport.h"

namespace tarvo::server {

// Feeds `text` to `reader` (a json_sax handler with `failed` and `done`
// flags); raises EBadRequest when the parser rejects the text, the reader
// failed or it did not reach the end of what it reads.
template <typename Reader>
void RunBodyReader(Reader& reader, std::string_view text) {
  try {
    nlohmann::json::sax_parse(text.begin(), text.end(), &reader, nlohmann::detail::input_format_t::json, true);
  } catch (const std::exception&) {
    throw EBadRequest();
  }
  if (reader.failed || !reader.done) throw EBadRequest();
}

}  // namespace tarvo::server
