// The HTTP listener of the Bridge server: POCO's server on the configured
// port on all interfaces, one thread per connection, no keep-alive, and a
// pool of TWebModul instances of which at most 32 are busy at once. A
// request beyond that limit is answered at once with status 503 and the
// text "Zu viele gleichzeitige Verbindungen"; it does not wait. While it
// runs, a TDatabaseHold keeps the configured database open.
//
// Threads: Start and Stop are called from one thread (the main window's);
// the counters of ServerContext change on the connection threads, which
// also call PostRefreshUI unless in session-0 mode. Stop blocks until the
// requests that are running have been answered.
#pragma once

#include <cstdint>
#include <memory>

#include "server/ServerContext.h"

namespace tarvo::server {

class TWebServer {
 public:
  explicit TWebServer(ServerContext& context);
  ~TWebServer();  // stops
  TWebServer(const TWebServer&) = delete;
  TWebServer& operator=(const TWebServer&) = delete;

  // Binds Konfiguration().TarvoServerPort and starts serving; raises
  // std::runtime_error with the reason when the port cannot be bound.
  void Start();
  // Stops accepting, lets running requests finish, joins the threads.
  void Stop();
  bool Active() const;
  int Port() const;  // the bound port while active

  // Module pool figures since the last Start: the most modules busy at the
  // same time, and the requests refused because all 32 were busy.
  int PeakBusyModules() const;
  int RefusedRequests() const;
  // The id of the attachment that keeps the database open, 0 while none.
  int64_t HeldAttachmentId() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvo::server
