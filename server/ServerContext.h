// What the Bridge server's parts share for the life of the process: the
// three process-wide locks, the session mode and the hand-off to the main
// window. Owned by the main window (THauptForm); everything else holds a
// reference.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace tarvo::server {

class TSpooler;  // server/Spooler.h

struct ServerContext {
  // Serialises changes of the configuration from request threads and the
  // processing of database events.
  std::mutex EventLock;
  // Serialises every RTF-to-text conversion.
  std::mutex RtfLock;
  // Guards admission and release of report jobs and the cache cleanup. A
  // slot lock may be held when this is taken, never the other way round.
  std::mutex SpoolerLock;

  // No graphical session: no dialogs, no refresh messages.
  bool Session0 = false;

  // Posts CM_REFRESH_UI to the main window (queued onto the GUI thread).
  // Empty when no window listens. Callers skip it in session-0 mode.
  std::function<void()> PostRefreshUI;

  // The report spooler; set by the host for its lifetime, read by the
  // report action. Empty: report requests are refused as unavailable.
  std::shared_ptr<TSpooler> Spooler;

  // Open HTTP connections, shown in the status bar.
  std::atomic<int> OpenConnections{0};
};

}  // namespace tarvo::server
