// tarvoserver: the Bridge server program. Starts the logger, the Qt
// application and the main window, runs the event loop until "Beenden" or
// until the operating system ends the program, then shuts down in reverse.
//
// Without a graphical session (session-0 mode) the windows run offscreen.
// SIGTERM, SIGINT and SIGHUP are the counterpart of Windows ending the
// session: listener, spooler and event listener are stopped and the logger
// is finalised before the process exits with code 0.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/DXLogger.h"
#include "common/Platform.h"
#include "server/Haupt.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signo) {
  const unsigned char b = static_cast<unsigned char>(signo);
  const int saved = errno;
  [[maybe_unused]] auto n = ::write(g_signalPipe[1], &b, 1);
  errno = saved;
}

bool InstallSignalPipe() {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &sa, nullptr);
  return true;
}

const char* SignalName(int s) {
  switch (s) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal";
  }
}

}  // namespace

int main(int argc, char** argv) {
  // No graphical session: nothing may wait for a display or a person.
  if (tarvo::IsSession0()) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // A peer that closes its connection early must not end the process.
  ::signal(SIGPIPE, SIG_IGN);

  tarvo::TDXLogger::Initialize();
  int rc = 0;
  {
    QApplication app(argc, argv);
    app.setApplicationName("TARVOserver");
    // Closing the window sends it to the tray; only "Beenden" ends.
    app.setQuitOnLastWindowClosed(false);

    QStringList arguments = app.arguments();
    if (!arguments.isEmpty()) arguments.removeFirst();

    const bool signalPipe = InstallSignalPipe();
    tarvo::server::THauptForm form(tarvo::ExecutableFolder(), arguments);
    std::unique_ptr<QSocketNotifier> notifier;
    if (signalPipe) {
      notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
      QObject::connect(notifier.get(), &QSocketNotifier::activated, &form, [&form, &notifier] {
        unsigned char b = 0;
        if (::read(g_signalPipe[0], &b, 1) != 1) return;
        notifier->setEnabled(false);  // one shut-down is enough
        form.EndSession(SignalName(b));
      });
    } else {
      form.LogError("Signal handling unavailable; the program ends only through \"Beenden\"");
    }
    form.show();
    rc = app.exec();
  }
  // The writer moves lines to the file every 100 ms; give it the last ones.
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  tarvo::TDXLogger::Finalize();
  return rc;
}
