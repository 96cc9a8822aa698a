// Runs the window tests inside one QApplication, offscreen, with the logger
// writing to a throwaway file (its path in TARVO_WINDOW_TEST_LOG).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <string>

#include "common/DXLogger.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string log = "/tmp/tarvo-window-tests-" + std::to_string(::getpid()) + ".log";
  ::setenv("TARVO_WINDOW_TEST_LOG", log.c_str(), 1);
  tarvo::TDXLogger::Initialize(log);
  int rc = 0;
  {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    rc = RUN_ALL_TESTS();
  }
  tarvo::TDXLogger::Finalize();
  ::unlink(log.c_str());
  return rc;
}
