#include "server/Haupt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWheelEvent>

#include "common/Konfiguration.h"
#include "common/Platform.h"

namespace tarvo::server {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The program's icon: a small blue tile with a white "T".
QIcon MakeIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x1f, 0x5f, 0xa8));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(22);
  p.setFont(f);
  p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, "T");
  p.end();
  return QIcon(pixmap);
}

// A caption right-aligned to end at `right`, not reaching left of `left`.
QLabel* MakeLabel(QWidget* parent, const char* text, int left, int right, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  const int width = right - left;
  label->setGeometry(right - width, top, width, 21);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, int left, int top, int width, const char* hint, bool digitsOnly) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(left, top, width, 21);
  edit->setToolTip(QString::fromUtf8(hint));
  if (digitsOnly) {
    edit->setMaxLength(3);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
  }
  return edit;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* caption, int left, int top, int width, const char* hint) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setGeometry(left, top, width, 17);
  box->setToolTip(QString::fromUtf8(hint));
  return box;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int top, const char* hint) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setGeometry(left, top, 161, 25);
  button->setToolTip(QString::fromUtf8(hint));
  return button;
}

}  // namespace

void TNoWheelComboBox::wheelEvent(QWheelEvent* event) { event->ignore(); }

const QString THauptForm::kEndQuestion = QString::fromUtf8(
    "Möchten Sie das Bridge-Modul wirklich beenden?\nWebplattform-Kommunikation wird unterbrochen!");

THauptForm::THauptForm(const std::string& basisPfad, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), FHost(std::make_unique<ServerHost>(FContext, *this)) {
  BuildControls();

  // Connection threads ask for refreshes through this; in session-0 mode
  // nobody looks at the window and it stays empty.
  if (!tarvo::IsSession0()) {
    FContext.PostRefreshUI = [this] {
      QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(CM_REFRESH_UI)));
    };
  }

  std::vector<std::string> args;
  for (const auto& a : arguments) args.push_back(S(a));
  FHost->FormCreate(basisPfad, args);
}

THauptForm::~THauptForm() {
  // The listener's threads may still post refreshes: stop them first.
  FHost.reset();
  FContext.PostRefreshUI = nullptr;
}

void THauptForm::BuildControls() {
  setWindowTitle("TARVOserver");
  setWindowIcon(MakeIcon());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  QFont font("Tahoma");
  font.setPointSize(8);
  // Without Tahoma the usual substitute is wider; its condensed face keeps
  // the captions inside the fixed layout.
  if (!QFontInfo(font).family().contains("Tahoma", Qt::CaseInsensitive)) font.setStretch(QFont::Condensed);
  setFont(font);
  setFixedSize(679, 257);

  auto* client = new QWidget(this);
  setCentralWidget(client);

  EinstellungenGroupBox = new QGroupBox("Einstellungen", client);
  EinstellungenGroupBox->setGeometry(8, 8, 662, 161);
  QWidget* g = EinstellungenGroupBox;

  MakeLabel(g, "TARVOserver-Port", 4, 112, 29);
  TarvoServerPortEdit = MakeEdit(g, 116, 29, 57, "Eingangs-Port für Webplattform-Verbindungen", false);
  MakeLabel(g, "Warn-Level (sek.)", 177, 275, 29);
  WarnLevelEdit = MakeEdit(g, 279, 29, 47,
                           "SQL-Abfragen ab dieser Dauer in der Log-Datei markieren (TRACE-Level)", true);
  MakeLabel(g, "Log-Level", 330, 388, 29);
  LogComboBox = new TNoWheelComboBox(g);
  LogComboBox->setGeometry(392, 29, 81, 21);
  for (const char* item : kLogLevelItems) LogComboBox->addItem(item);
  LogComboBox->setToolTip("Detailstufe für das Logging");
  MakeLabel(g, "Report-Timeout (sek.)", 477, 608, 29);
  ReportTimeoutEdit = MakeEdit(g, 612, 29, 35, "Reportgenerierung nach maximal X Sekunden abbrechen", true);

  MakeLabel(g, "Datenbankpfad", 4, 112, 56);
  DatenbankpfadEdit = MakeEdit(g, 116, 56, 357, "[IP oder Domain]/[Port]:[Pfad der IB-Datei]", false);
  MakeLabel(g, "Report-Prozesse (max.)", 477, 608, 56);
  ReportPoolEdit = MakeEdit(g, 612, 56, 35, "Maximale Anzahl gleichzeitig abrufbarer Reports", true);

  MakeLabel(g, "Sicherheitsschlüssel", 4, 112, 83);
  SicherheitsschluesselEdit = MakeEdit(g, 116, 83, 357, "Webplattform-Sicherheitsschlüssel", false);
  MakeLabel(g, "Prozess-Warteschlange", 477, 608, 83);
  ReportJobsEdit = MakeEdit(g, 612, 83, 35,
                            "Maximale Anzahl pro Prozess einzureihender Reports (Generierung nacheinander)", true);

  EventsCheckBox = MakeCheckBox(g, "Events", 116, 110, 57, "Datenbank-Events verarbeiten");
  AutoUpdateCheckBox = MakeCheckBox(g, "Auto-Update", 177, 110, 155,
                                    "TARVOserver bei verfügbarem Update automatisch aktualisieren");
  TestseitePublicCheckBox =
      MakeCheckBox(g, "Testseite öffentlich", 342, 110, 112,
                   "Testseite für andere Rechner sichtbar schalten (nicht im Produktbetrieb aktivieren!)");
  UpdateTestCheckBox = MakeCheckBox(g, "Update-Test", 460, 110, 82,
                                    "Update trotz aktuellster Version erneut installieren");
  DevModeCheckBox = MakeCheckBox(g, "Entwicklermodus", 548, 110, 101,
                                 "Verbindung zu lokal installierter Webplattform (nur für Entwicklung!)");
  DienstCheckBox = MakeCheckBox(
      g, "Windows-Dienst", 116, 133, 531,
      "Guardian-Dienst zum automatischen Start des TARVOservers installieren (z.B. nach Server-Neustart)");
  // These switches get their handlers with event forwarding, auto-update and
  // the service installation; until then they only show the settings.
  for (QCheckBox* box : {EventsCheckBox, AutoUpdateCheckBox, TestseitePublicCheckBox, UpdateTestCheckBox,
                         DevModeCheckBox, DienstCheckBox})
    box->setEnabled(false);

  ButtonStart = MakeButton(client, "Starten", 8, 175, "Webplattform-Kommunikation aktivieren");
  ButtonStop = MakeButton(client, "Anhalten", 175, 175, "Webplattform-Kommunikation deaktivieren");
  ButtonOpenBrowser =
      MakeButton(client, "Testseite", 342, 175, "Testseite mit Statusinformationen im Browser aufrufen");
  ButtonCheckForUpdate =
      MakeButton(client, "Auf Update prüfen", 510, 175, "Auf verfügbares TARVOserver-Update prüfen");
  ButtonCheckForUpdate->setEnabled(false);  // arrives with auto-update
  Fortschrittsbalken = new QProgressBar(client);
  Fortschrittsbalken->setGeometry(9, 207, 493, 23);
  Fortschrittsbalken->setRange(0, 100);
  Fortschrittsbalken->setValue(0);
  Fortschrittsbalken->setTextVisible(false);
  ButtonEnde = MakeButton(client, "Beenden", 510, 206, "TARVOserver-Anwendung beenden");

  auto* bar = statusBar();
  bar->setFixedHeight(19);
  bar->setSizeGripEnabled(false);
  bar->setToolTip("Reports: Aktiv / Wartend");
  const int widths[6] = {70, 90, 120, 80, 110, 0};
  const char* texts[6] = {"Version x.x", "ANGEHALTEN", "Verbindungen: 0", "Events: 0", "Reports: 0 / 0",
                          "Update verfügbar!"};
  for (int i = 0; i < 6; ++i) {
    Statuszeile[i] = new QLabel(QString::fromUtf8(texts[i]), bar);
    if (widths[i] > 0) Statuszeile[i]->setFixedWidth(widths[i]);
    bar->addWidget(Statuszeile[i], widths[i] > 0 ? 0 : 1);
  }

  TrayIcon = new QSystemTrayIcon(windowIcon(), this);
  TrayIcon->setToolTip("TARVOserver");
  TrayIcon->hide();

  connect(ButtonStart, &QPushButton::clicked, this, [this] { ButtonStartClick(); });
  connect(ButtonStop, &QPushButton::clicked, this, [this] { ButtonStopClick(); });
  connect(ButtonOpenBrowser, &QPushButton::clicked, this, [this] { ButtonOpenBrowserClick(); });
  connect(ButtonEnde, &QPushButton::clicked, this, [this] { ButtonEndeClick(); });
  connect(LogComboBox, &QComboBox::currentIndexChanged, this, [this](int) { LogComboBoxChange(); });
  connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) TrayIconClick();
  });
}

template <typename F>
void THauptForm::Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    FHost->ReportError(e.what());
  } catch (...) {
    FHost->ReportError("Unknown error");
  }
}

std::uintptr_t THauptForm::WindowHandle() const { return static_cast<std::uintptr_t>(winId()); }

HostSettingsFields THauptForm::ReadSettingsFields() const {
  HostSettingsFields f;
  f.Port = S(TarvoServerPortEdit->text());
  f.Sicherheitsschluessel = S(SicherheitsschluesselEdit->text());
  f.ReportTimeout = S(ReportTimeoutEdit->text());
  f.ReportPool = S(ReportPoolEdit->text());
  f.ReportJobs = S(ReportJobsEdit->text());
  f.WarnLevel = S(WarnLevelEdit->text());
  f.Datenbankpfad = S(DatenbankpfadEdit->text());
  f.LogLevelIndex = LogComboBox->currentIndex() < 0 ? 0 : LogComboBox->currentIndex();
  return f;
}

void THauptForm::ShowSettingsFields(const HostSettingsFields& f) {
  TarvoServerPortEdit->setText(Q(f.Port));
  SicherheitsschluesselEdit->setText(Q(f.Sicherheitsschluessel));
  ReportTimeoutEdit->setText(Q(f.ReportTimeout));
  ReportPoolEdit->setText(Q(f.ReportPool));
  ReportJobsEdit->setText(Q(f.ReportJobs));
  WarnLevelEdit->setText(Q(f.WarnLevel));
  DatenbankpfadEdit->setText(Q(f.Datenbankpfad));
}

void THauptForm::RefreshUI() {
  if (Refreshing) return;
  Refreshing = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{Refreshing};

  const auto& k = Konfiguration();
  LogComboBox->setCurrentIndex(ServerHost::LogLevelIndexFromConfiguration());

  const bool active = FHost->Active();
  ButtonStart->setEnabled(!active);
  ButtonStop->setEnabled(active);
  for (QLineEdit* edit : {TarvoServerPortEdit, SicherheitsschluesselEdit, ReportTimeoutEdit, ReportPoolEdit,
                          ReportJobsEdit, WarnLevelEdit, DatenbankpfadEdit})
    edit->setReadOnly(active);

  AutoUpdateCheckBox->setChecked(k.AutoUpdate);
  UpdateTestCheckBox->setChecked(k.UpdateTest);
  DevModeCheckBox->setChecked(k.DevMode);
  EventsCheckBox->setChecked(k.Events);
  DienstCheckBox->setChecked(k.Dienst);
  if (k.Dienst) {
    DienstCheckBox->setText(QString::fromUtf8("Windows-Dienst: %1 (Prüfintervall: %2 sek.) (Versuche: %3)")
                                .arg(Q(k.DienstName.get()))
                                .arg(k.FDienstInterval.get())
                                .arg(k.FDienstVersuche.get()));
  } else {
    DienstCheckBox->setText("Windows-Dienst");
  }
  if (k.AutoUpdate) {
    const DateTime t = k.GetAutoUpdateTime();
    const bool readable = t.HasValidTime();
    AutoUpdateCheckBox->setText(QString("Auto-Update um %1:%2 Uhr")
                                    .arg(readable ? t.hour : 0)
                                    .arg(readable ? t.minute : 0, 2, 10, QChar('0')));
  } else {
    AutoUpdateCheckBox->setText("Auto-Update");
  }

  Statuszeile[0]->setText(Q("Version " + k.GetAppVersion()));
  Statuszeile[1]->setText(Q(FHost->StateText()));
  Statuszeile[2]->setText(QString("Verbindungen: %1").arg(FHost->Connections()));
  TrayIcon->setToolTip(QString("Port %1 -- %2 -- %3")
                           .arg(TarvoServerPortEdit->text().trimmed(), Statuszeile[1]->text(),
                                DatenbankpfadEdit->text().trimmed()));
  Statuszeile[3]->setText(QString("Events: %1").arg(FHost->RunningEventTasks()));
  Statuszeile[4]->setText(
      QString("Reports: %1 / %2").arg(FHost->ActiveReports()).arg(FHost->WaitingReports()));
  Statuszeile[5]->setText(UpdateAvailable ? QString::fromUtf8("Update verfügbar!") : QString());
  Fortschrittsbalken->setValue(Fortschritt);

  // Keeps the window painted during long work on the GUI thread; input is
  // left for later so that no button runs in the middle of another.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void THauptForm::ShowError(const std::string& message) {
  // The host has logged the message already; in session-0 mode that is all.
  if (Session0()) return;
  QMessageBox::critical(this, "TARVOserver", Q(message));
}

bool THauptForm::AskYesNo(const QString& question) {
  if (Session0()) {
    LogInfo("Dialog skipped in session 0 (taken as Yes): " + S(QString(question).replace('\n', ' ')));
    return true;
  }
  return QMessageBox::question(this, "TARVOserver", question, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void THauptForm::ButtonStartClick() {
  Guarded([this] { FHost->ButtonStartClick(); });
}

void THauptForm::ButtonStopClick() {
  Guarded([this] { FHost->ButtonStopClick(); });
}

void THauptForm::ButtonOpenBrowserClick() {
  Guarded([this] {
    FHost->ButtonStartClick();
    const QString url = "http://localhost:" + TarvoServerPortEdit->text();
    if (Session0()) {
      LogInfo("No browser in session 0: " + S(url));
      return;
    }
    QDesktopServices::openUrl(QUrl(url));
  });
}

void THauptForm::ButtonEndeClick() {
  if (!AskYesNo(kEndQuestion)) return;
  FHost->PrepareEnd();
  // exit, not quit: quit first closes the windows, and the close box of
  // this one only sends it to the tray, which would cancel the end.
  QCoreApplication::exit(0);
}

void THauptForm::EndSession(const std::string& reason) {
  FHost->EndSession(reason);
  QCoreApplication::exit(0);
}

void THauptForm::LogComboBoxChange() {
  if (Refreshing) return;
  Guarded([this] { FHost->ApplySettings(); });
  RefreshUI();
}

void THauptForm::TrayIconClick() {
  showNormal();
  TrayIcon->hide();
  raise();
  activateWindow();
}

void THauptForm::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (!Session0() && !QSystemTrayIcon::isSystemTrayAvailable()) {
    // A desktop without a notification area could never bring a hidden
    // window back: it stays reachable as a minimised window instead.
    LogInfo("No system tray available; the window is minimised instead");
    showMinimized();
    return;
  }
  hide();
  setWindowState(windowState() | Qt::WindowMinimized);
  TrayIcon->show();
}

bool THauptForm::event(QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(CM_REFRESH_UI)) {
    FHost->HandleRefreshMessage();
    return true;
  }
  return QMainWindow::event(event);
}

}  // namespace tarvo::server
