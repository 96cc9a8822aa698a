// The Bridge server's main window "TARVOserver": the settings fields, the
// buttons that start, stop and end the server, the status bar and the tray
// icon. The window owns the process-wide ServerContext (the three locks) and
// the ServerHost that does the work; its handlers forward to the host.
//
// Threads: the window lives on the GUI thread. Other threads never touch it;
// they ask for a refresh through ServerContext::PostRefreshUI, which queues
// an event of type CM_REFRESH_UI to the window (not in session-0 mode).
//
// Session-0 mode (no graphical session): the window runs offscreen, no
// dialog waits for a person (its text is logged instead) and no refresh
// events are posted.
#pragma once

#include <QComboBox>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <string>

#include "server/ServerContext.h"
#include "server/ServerHost.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;

namespace tarvo::server {

// A drop-down list that ignores the mouse wheel.
class TNoWheelComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;

 protected:
  void wheelEvent(QWheelEvent* event) override;
};

class THauptForm : public QMainWindow, public HostView, public TLevelLogger {
  Q_OBJECT

 public:
  // Builds the window and runs the start-up sequence (FormCreate) with the
  // program's arguments (without the program name). `basisPfad` is the
  // folder the configuration is read from, with a trailing '/'.
  THauptForm(const std::string& basisPfad, const QStringList& arguments, QWidget* parent = nullptr);
  // Stops the listener before the locks go.
  ~THauptForm() override;

  // The operating system ends the program (SIGTERM, SIGINT, SIGHUP): stops
  // event listener, listener and spooler and quits the application.
  void EndSession(const std::string& reason);

  ServerHost& Host() { return *FHost; }
  ServerContext& Context() { return FContext; }
  bool Session0() const { return FContext.Session0; }

  // HostView
  std::uintptr_t WindowHandle() const override;
  HostSettingsFields ReadSettingsFields() const override;
  void ShowSettingsFields(const HostSettingsFields& fields) override;
  void RefreshUI() override;
  void ShowError(const std::string& message) override;

  // Handlers (public so that the program and tests can trigger them).
  void ButtonStartClick();
  void ButtonStopClick();
  void ButtonOpenBrowserClick();
  void ButtonEndeClick();
  void TrayIconClick();
  void LogComboBoxChange();

  // Controls, named as the window's designers named them.
  QGroupBox* EinstellungenGroupBox = nullptr;
  QLineEdit* TarvoServerPortEdit = nullptr;
  QLineEdit* WarnLevelEdit = nullptr;
  TNoWheelComboBox* LogComboBox = nullptr;
  QLineEdit* ReportTimeoutEdit = nullptr;
  QLineEdit* DatenbankpfadEdit = nullptr;
  QLineEdit* ReportPoolEdit = nullptr;
  QLineEdit* SicherheitsschluesselEdit = nullptr;
  QLineEdit* ReportJobsEdit = nullptr;
  QCheckBox* EventsCheckBox = nullptr;
  QCheckBox* AutoUpdateCheckBox = nullptr;
  QCheckBox* TestseitePublicCheckBox = nullptr;
  QCheckBox* UpdateTestCheckBox = nullptr;
  QCheckBox* DevModeCheckBox = nullptr;
  QCheckBox* DienstCheckBox = nullptr;
  QPushButton* ButtonStart = nullptr;
  QPushButton* ButtonStop = nullptr;
  QPushButton* ButtonOpenBrowser = nullptr;
  QPushButton* ButtonCheckForUpdate = nullptr;
  QProgressBar* Fortschrittsbalken = nullptr;
  QPushButton* ButtonEnde = nullptr;
  std::array<QLabel*, 6> Statuszeile{};
  QSystemTrayIcon* TrayIcon = nullptr;

  // State shared with the later parts of the window.
  bool Refreshing = false;
  bool UpdateAvailable = false;
  int AutoUpdateVersuch = 0;
  bool EventsActive = false;
  std::string EventsMandant;
  int Fortschritt = 0;

  // The confirmation text of "Beenden".
  static const QString kEndQuestion;

 protected:
  // Asks Yes/No. In session-0 mode nobody can answer: the question is
  // logged and taken as answered with Yes (only a program can have pressed
  // the button there).
  virtual bool AskYesNo(const QString& question);
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  // Runs a handler and hands any error to ServerHost::ReportError.
  template <typename F>
  void Guarded(F&& handler);

  // Declared first: the locks outlive the host and with it the listener.
  ServerContext FContext;
  std::unique_ptr<ServerHost> FHost;
};

}  // namespace tarvo::server
