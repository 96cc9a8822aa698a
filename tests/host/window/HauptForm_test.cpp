// The main window offscreen with the real listener: what the controls show
// in each state, close-to-tray, the refresh hand-off from other threads and
// the end of the program.
#include "server/Haupt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>

#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "support/HostTestSupport.h"

namespace tarvo::server {
namespace {

using hosttest::ReadLines;
using hosttest::ScopedEnv;
using hosttest::TempFolder;

// Answers the confirmation as told and records errors instead of showing
// a message box, so that an interactive session can be tested offscreen.
class TestForm : public THauptForm {
 public:
  using THauptForm::THauptForm;
  bool answer = false;
  int questions = 0;
  QString lastQuestion;
  std::vector<std::string> errors;
  int closeEvents = 0;
  void ShowError(const std::string& message) override { errors.push_back(message); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++closeEvents;
    THauptForm::closeEvent(event);
  }
  bool AskYesNo(const QString& question) override {
    ++questions;
    lastQuestion = question;
    return answer;
  }
};

class HauptFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port = hosttest::FreePort();
    WriteIni("TARVO-SERVER-PORT=" + std::to_string(port) +
             "\r\nDATENBANKPFAD=localhost/3050:/tmp/demo.fdb\r\nTRACELOG=JA\r\n");
  }
  void WriteIni(const std::string& content) {
    hosttest::WriteFile(folder.Path() + "tarvoserver.ini", content);
  }
  std::string IniValue(const std::string& key) {
    for (const auto& l : ReadLines(folder.Path() + "tarvoserver.ini"))
      if (l.rfind(key + "=", 0) == 0) return l.substr(key.size() + 1);
    return "<missing>";
  }
  static bool LogContains(const std::string& text) {
    const auto lines = ReadLines(std::getenv("TARVO_WINDOW_TEST_LOG"));
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
  std::vector<QLineEdit*> SettingsEdits(THauptForm& f) {
    return {f.TarvoServerPortEdit, f.SicherheitsschluesselEdit, f.ReportTimeoutEdit, f.ReportPoolEdit,
            f.ReportJobsEdit,      f.WarnLevelEdit,             f.DatenbankpfadEdit};
  }

  TempFolder folder;
  int port = 0;
};

TEST_F(HauptFormTest, ShowsTheSettingsAndTheStateOfTheListener) {
  THauptForm form(folder.Path(), {});
  EXPECT_EQ(form.windowTitle(), "TARVOserver");
  EXPECT_EQ(form.size(), QSize(679, 257));
  EXPECT_EQ(form.TarvoServerPortEdit->text().toStdString(), std::to_string(port));
  EXPECT_EQ(form.ReportTimeoutEdit->text(), "30");
  EXPECT_EQ(form.LogComboBox->currentText(), "TRACE");
  QStringList items;
  for (int i = 0; i < form.LogComboBox->count(); ++i) items << form.LogComboBox->itemText(i);
  EXPECT_EQ(items, QStringList({"OFF", "ERROR", "INFO", "TRACE", "DEBUG"}));

  struct Expect {
    const char* state;
    bool startEnabled;
  };
  auto check = [&](const Expect& e) {
    SCOPED_TRACE(e.state);
    const bool running = !e.startEnabled;
    EXPECT_EQ(form.Statuszeile[1]->text(), e.state);
    EXPECT_EQ(form.Statuszeile[0]->text(), QString::fromStdString("Version " + Konfiguration().GetAppVersion()));
    EXPECT_EQ(form.Statuszeile[2]->text(), "Verbindungen: 0");
    EXPECT_EQ(form.ButtonStart->isEnabled(), e.startEnabled);
    EXPECT_EQ(form.ButtonStop->isEnabled(), running);
    for (QLineEdit* edit : SettingsEdits(form)) EXPECT_EQ(edit->isReadOnly(), running);
    EXPECT_EQ(form.TrayIcon->toolTip(), QString("Port %1 -- %2 -- localhost/3050:/tmp/demo.fdb")
                                            .arg(port)
                                            .arg(e.state));
    EXPECT_EQ(hosttest::PortAnswers(port), running);
  };
  check({"ANGEHALTEN", true});
  form.ButtonStart->click();
  check({"GESTARTET", false});
  form.ButtonStop->click();
  check({"ANGEHALTEN", true});
}

TEST_F(HauptFormTest, NonNumericPortReportsAnErrorAndStaysStopped) {
  ScopedEnv display("DISPLAY", ":77");  // an interactive session: errors go to a dialog
  TestForm form(folder.Path(), {});
  form.TarvoServerPortEdit->setText("fünfzig");
  form.ButtonStart->click();
  ASSERT_EQ(form.errors.size(), 1u);
  EXPECT_EQ(form.errors[0], "'fünfzig' is not a valid integer value");
  EXPECT_EQ(form.Statuszeile[1]->text(), "ANGEHALTEN");
  EXPECT_TRUE(form.ButtonStart->isEnabled());
}

TEST_F(HauptFormTest, CloseBoxSendsTheRunningServerToTheTrayAndTheIconBringsItBack) {
  THauptForm form(folder.Path(), {"--AUTOSTART"});
  form.show();
  ASSERT_TRUE(form.Host().Active());
  EXPECT_FALSE(form.TrayIcon->isVisible());

  form.close();
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(form.TrayIcon->isVisible());
  EXPECT_TRUE(form.Host().Active());
  EXPECT_TRUE(hosttest::PortAnswers(port));

  form.TrayIconClick();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isMinimized());
  EXPECT_FALSE(form.TrayIcon->isVisible());
}

TEST_F(HauptFormTest, WithoutANotificationAreaCloseMinimisesInstead) {
  ScopedEnv display("DISPLAY", ":77");  // a desktop, but offscreen has no tray
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  THauptForm form(folder.Path(), {"--autostart"});
  form.show();
  form.close();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.isMinimized());
  EXPECT_FALSE(form.TrayIcon->isVisible());
  EXPECT_TRUE(form.Host().Active());
}

TEST_F(HauptFormTest, ChoosingALogLevelWritesTheSwitchesAtOnce) {
  THauptForm form(folder.Path(), {});
  form.LogComboBox->setCurrentIndex(2);  // INFO
  EXPECT_EQ(IniValue("INFOLOG"), "JA");
  EXPECT_EQ(IniValue("ERRORLOG"), "NEIN");
  EXPECT_EQ(IniValue("TRACELOG"), "NEIN");
  EXPECT_EQ(IniValue("DEBUGLOG"), "NEIN");
  EXPECT_EQ(form.LogComboBox->currentText(), "INFO");
}

// Connection threads ask for refreshes; only an interactive session posts.
TEST_F(HauptFormTest, RefreshRequestsFromOtherThreadsRunOnTheGuiThread) {
  struct Case {
    const char* display;
    bool posts;
  };
  for (const Case c : {Case{":77", true}, Case{nullptr, false}}) {
    SCOPED_TRACE(c.display ? "interactive" : "session 0");
    ScopedEnv display("DISPLAY", c.display);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    THauptForm form(folder.Path(), {});
    EXPECT_EQ(static_cast<bool>(form.Context().PostRefreshUI), c.posts);
    EXPECT_EQ(form.Host().SessionId() == "0", !c.posts);

    form.ButtonStart->click();
    ASSERT_TRUE(form.Host().Active());
    {
      // The listener's connection thread counts and posts; the window
      // refreshes when the GUI thread handles the posted event.
      hosttest::HeldConnection connection(port);
      ASSERT_TRUE(hosttest::WaitFor([&] { return form.Host().Connections() == 1; }));
      QCoreApplication::sendPostedEvents(&form);
      EXPECT_EQ(form.Statuszeile[2]->text(), c.posts ? "Verbindungen: 1" : "Verbindungen: 0");
    }
    ASSERT_TRUE(hosttest::WaitFor([&] { return form.Host().Connections() == 0; }));
    QCoreApplication::sendPostedEvents(&form);
    EXPECT_EQ(form.Statuszeile[2]->text(), "Verbindungen: 0");
  }
  EXPECT_TRUE(hosttest::WaitFor([] { return LogContains("TRACE | Handle Message CM_REFRESH_UI [32769]"); }));
}

// "Beenden": the question, then saving and quitting only on Yes.
TEST_F(HauptFormTest, EndAsksAndQuitsOnlyOnYes) {
  ScopedEnv display("DISPLAY", ":77");  // an interactive session
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    TestForm form(folder.Path(), {});
    form.answer = yes;
    form.show();
    form.DatenbankpfadEdit->setText("  localhost/3050:/tmp/neu.fdb ");
    QTimer::singleShot(0, &form, [&] { form.ButtonEnde->click(); });
    QTimer::singleShot(1500, &form, [] { QCoreApplication::exit(7); });
    const int rc = QCoreApplication::exec();
    EXPECT_EQ(form.questions, 1);
    EXPECT_EQ(form.lastQuestion,
              QString::fromUtf8("Möchten Sie das Bridge-Modul wirklich beenden?\n"
                                "Webplattform-Kommunikation wird unterbrochen!"));
    EXPECT_EQ(rc, yes ? 0 : 7);
    // Ending is no close of the window: it neither goes to the tray nor
    // can its close box veto the end.
    EXPECT_EQ(form.closeEvents, 0);
    EXPECT_EQ(IniValue("DATENBANKPFAD"), yes ? "localhost/3050:/tmp/neu.fdb" : "localhost/3050:/tmp/demo.fdb");
  }
}

// Without a graphical session nobody can answer or look: the question is
// logged and taken as Yes, and the test page is not opened in a browser.
TEST_F(HauptFormTest, Session0SkipsTheDialogAndTheBrowser) {
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  THauptForm form(folder.Path(), {});
  form.show();
  ASSERT_TRUE(form.Session0());

  form.ButtonOpenBrowser->click();
  EXPECT_TRUE(form.Host().Active());
  EXPECT_TRUE(hosttest::PortAnswers(port));
  const std::string url = "http://localhost:" + std::to_string(port);
  EXPECT_TRUE(hosttest::WaitFor([&] { return LogContains("INFO  | No browser in session 0: " + url); }));

  QTimer::singleShot(0, &form, [&] { form.ButtonEnde->click(); });
  QTimer::singleShot(1500, &form, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(hosttest::WaitFor([] {
    // The log file is Windows-1252: "Möchten" with one byte for the umlaut.
    return LogContains("INFO  | Dialog skipped in session 0 (taken as Yes): M\xF6" "chten Sie das Bridge-Modul "
                       "wirklich beenden? Webplattform-Kommunikation wird unterbrochen!");
  }));
}

// With TARVO_WINDOW_SCREENSHOT set, stores a picture of the running window.
TEST_F(HauptFormTest, Screenshot) {
  const char* path = std::getenv("TARVO_WINDOW_SCREENSHOT");
  if (!path) GTEST_SKIP() << "TARVO_WINDOW_SCREENSHOT not set";
  THauptForm form(folder.Path(), {"--autostart"});
  form.show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.grab().save(path));
}

}  // namespace
}  // namespace tarvo::server
