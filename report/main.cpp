// tarvoreport: web print mode (--WEB --POOL=N) renders the job of slot N
// headless and ends; without --WEB the window for manual exports opens.
#include <QApplication>
#include <QGuiApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/DXLogger.h"
#include "common/FormatSettings.h"
#include "common/Konfiguration.h"
#include "common/Platform.h"
#include "report/Druckauftrag.h"
#include "report/Haupt.h"
#include "report/TarvoFunktionen.h"

using namespace tarvo;
using namespace tarvo::report;

namespace {
struct LoggerLifetime {
  LoggerLifetime() { TDXLogger::Initialize(); }
  ~LoggerLifetime() { TDXLogger::Finalize(); }
};
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  SetSystemFormatSettings(FormatSettings::FromSystemLocale());
  // --FUNKTIONEN: the script functions for template designers, then end.
  for (const auto& arg : args)
    if (QString::fromStdString(arg).toUpper() == "--FUNKTIONEN") {
      std::cout << TarvoFunktionenListing(TDruckEngineFastReportForm().Functions());
      return 0;
    }
  const std::string folder = ExecutableFolder();
  Konfiguration().LoadFromFile();
  LoggerLifetime logger;
  TLevelLogger log;

  Arguments a;
  try {
    a = ScanArguments(args);
  } catch (const std::exception& e) {
    log.LogError(std::string("Start failed: ") + e.what());
    std::cerr << "tarvoreport: " << e.what() << "\n";
    return 2;
  }

  if (a.web) {
    // Headless: fonts need a GUI application, no window is shown.
    if (IsSession0() && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    {
      QGuiApplication app(argc, argv);
      db::TIBRDATABASE datenbank;
      datenbank.Close();
      datenbank.SetDatabaseName(Konfiguration().Datenbankpfad.get());
      RunWebPrintJob(datenbank, folder, a.pool, log);
      datenbank.Close();
    }
    // Everything is written and detached: end without the client library's
    // unload handler, which waits 50 ms per process.
    TDXLogger::Finalize();
    std::fflush(nullptr);
    _exit(0);
  }

  if (IsSession0() && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  THauptForm form(folder);
  form.show();
  return app.exec();
}
