// Readers of the request bodies that the write and invoke actions take
// beyond the single-statement body of JSONSupport.h.
//
// Raise EBadRequest (answered with status 500) for text that is no JSON
// object, wrong nesting, a parameter value that is an object or array, or
// a parameter name given twice. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/JSONSupport.h"

namespace tarvo::server {

// A batch of writes: every root member "statements" (an array of objects
// with "sql" and "params" in any order) in document order; a second
// "statements" member adds its statements after those of the first. The
// whole root object is read, so the text must be JSON to its end.
std::vector<TRequestStatement> ReadExecuteBatchBody(std::string_view text);

// An invoke request: "method" (into Sql) and "params" with the names
// upper-cased; reading stops after "params", so "method" must come first.
// Names that differ only in letter case are a repeated name.
TRequestStatement ReadInvokeBody(std::string_view text);

// Upper case of ASCII and the Latin-1 letters (UTF-8); other text as is.
std::string UpperText(std::string_view text);

}  // namespace tarvo::server
