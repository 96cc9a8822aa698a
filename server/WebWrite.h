// The write actions of the web module (members of TWebModul, Web.h):
//
//   POST "/v2/execute"        one statement, or a "TARVOSERVER:" command
//   POST "/v2/executebatch"   every statement of the body as one unit
//   "/v2/executestream"       one statement from the encrypted header
//                             "x-qx-command"; the decrypted body is the
//                             value of the parameter named BYTES (any
//                             letter case), an empty body a zero-byte blob
//
// Each answers exactly {"data":[]} (encrypted). Work runs in the module's
// default transaction: commit-retaining once everything succeeded,
// rollback-retaining of everything the request did on any failure, which
// then travels on to the module's error answer (950/951). A batch is also
// rolled back, not committed, when its client has closed the connection
// before the commit.
#pragma once

#include <string_view>

namespace tarvo::server {

// What a write binds for a parameter value.
enum class WriteBinding { DateTime, Null, Text };
WriteBinding WriteBindingOf(std::string_view value);

}  // namespace tarvo::server
