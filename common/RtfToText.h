#pragma once

#include <string>
#include <string_view>

namespace tarvo {

// The visible text of an RTF document as UTF-8: CR LF between paragraphs,
// \'hh read as Windows-1252, \uN with its fallback skipped, destinations
// (font and colour tables, pictures, \* groups, ...) skipped. Text that is
// not RTF comes back unchanged. Never throws. Not synchronised by itself:
// the server serialises calls under its RTF lock.
//
// \par, \line, \sect, \page and \row each give CR LF; a \par (or one of
// the others) at the very end gives none, so the text never ends with the
// CR LF of the last paragraph; callers that want one per line append it.
// \tab and \cell give a tab. A field shows its result, not its
// instruction. Raw bytes above 0x7F are UTF-8 when the whole input is valid
// UTF-8, else Windows-1252. Text after the document's closing brace is
// ignored; a document without one ends with the input. The work is linear
// in the input and the nesting depth costs heap, not stack.
std::string RtfToText(std::string_view rtf);

}  // namespace tarvo
