// The host's spooler hooks: the start and stop sequences of the window
// start and stop the report spooler through these, and the status bar
// reads its figures.
#include "server/ServerHost.h"
#include "server/Spooler.h"

namespace tarvo::server {

void ServerHost::StartSpooler() {
  // Set once, before the listener first runs; request threads only read it.
  if (!context_.Spooler) context_.Spooler = std::make_shared<TSpooler>(context_);
  context_.Spooler->SetWindowHandle(view_.WindowHandle());
  context_.Spooler->StartSpooler();
}

void ServerHost::StopSpooler() {
  if (context_.Spooler) {
    context_.Spooler->StopSpooler();
  } else {
    LogInfo("Stopping Spooler...");
    LogInfo("Spooler already stopped");
  }
}

int ServerHost::ActiveReports() const { return context_.Spooler ? context_.Spooler->BusySlots() : 0; }

int ServerHost::WaitingReports() const {
  if (!context_.Spooler) return 0;
  const int waiting = context_.Spooler->TotalJobs() - context_.Spooler->BusySlots();
  return waiting > 0 ? waiting : 0;
}

}  // namespace tarvo::server
