// The web module's action files share this: closing the request's
// connection at the end of a scope (with the text helpers of WebText.h).
#pragma once

#include "server/Web.h"
#include "server/WebText.h"

namespace tarvo::server {

// Logs "Close Database Connection" and closes the module's connection when
// the scope ends, whichever way, or earlier through Close().
class CloseAtEnd {
 public:
  explicit CloseAtEnd(TWebModul& m) : m_(&m) {}
  ~CloseAtEnd() { Close(); }
  // Closes now (the action's finally block before its LEAVE line).
  void Close() {
    if (!m_) return;
    TWebModul& m = *m_;
    m_ = nullptr;
    m.LogDebug("Close Database Connection");
    m.Datenbank.Close();
  }
  CloseAtEnd(const CloseAtEnd&) = delete;
  CloseAtEnd& operator=(const CloseAtEnd&) = delete;

 private:
  TWebModul* m_;
};

}  // namespace tarvo::server
