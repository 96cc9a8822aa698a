#pragma once

#include <string>
#include <string_view>

namespace tarvo {

// The visible text of an RTF document as UTF-8: CR LF between paragraphs,
// \'hh read as Windows-1252, \uN with its fallback skipped, destinations
// (font and colour tables, pictures, \* groups, ...) skipped. Text that is
// not RTF comes back unchanged. Never throws. Not synchronised by itself:
// the server serialises calls under its RTF lock.
std::string RtfToText(std::string_view rtf);

}  // namespace tarvo
