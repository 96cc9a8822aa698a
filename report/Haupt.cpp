#include "report/Haupt.h"

#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QWidget>

#include "common/Konfiguration.h"

namespace tarvo::report {

THauptForm::THauptForm(const std::string& programFolder) : folder_(programFolder) {
  setWindowTitle("TARVOreport");
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  auto* central = new QWidget(this);
  auto* grid = new QGridLayout(central);
  auto edit = [&](const char* label, const char* text, int row) {
    grid->addWidget(new QLabel(QString::fromUtf8(label), central), row, 0);
    auto* e = new QLineEdit(QString::fromUtf8(text), central);
    grid->addWidget(e, row, 1, 1, 2);
    return e;
  };
  BereichEdit = edit("Bereich", "T-TOURISTIK", 0);
  BereichEdit->setObjectName("BereichEdit");
  ArtEdit = edit("Art", "BESTAETIGUNG", 1);
  ArtEdit->setObjectName("ArtEdit");
  FormularEdit = edit("Formular", "webformular", 2);
  FormularEdit->setObjectName("FormularEdit");
  grid->addWidget(new QLabel("Parameter", central), 3, 0);
  for (int i = 0; i < 6; ++i) {
    auto* n = new QLineEdit(central);
    auto* w = new QLineEdit(central);
    n->setPlaceholderText("Name");
    w->setPlaceholderText("Wert");
    n->setToolTip("Name");
    w->setToolTip("Wert");
    n->setObjectName(QString("ParamName%1Edit").arg(i + 1));
    w->setObjectName(QString("ParamWert%1Edit").arg(i + 1));
    grid->addWidget(n, 3 + i, 1);
    grid->addWidget(w, 3 + i, 2);
    ParamNameEdits[static_cast<size_t>(i)] = n;
    ParamWertEdits[static_cast<size_t>(i)] = w;
  }
  ParamNameEdits[0]->setText("_NR");
  ParamWertEdits[0]->setText("200140");
  PdfButton = new QPushButton("PDF speichern", central);
  PdfButton->setObjectName("PdfButton");
  grid->addWidget(PdfButton, 9, 1, 1, 2);
  setCentralWidget(central);
  Statuszeile = new QStatusBar(this);
  auto* panel = new QLabel("Version x.x", Statuszeile);
  panel->setObjectName("VersionPanel");
  panel->setFixedWidth(70);
  Statuszeile->addWidget(panel);
  setStatusBar(Statuszeile);
  connect(PdfButton, &QPushButton::clicked, this, &THauptForm::PdfButtonClick);

  Konfiguration().LoadFromFile();
  Datenbank.Close();
  Datenbank.SetDatabaseName(Konfiguration().Datenbankpfad.get());
  panel->setText(QString::fromStdString("Version " + Konfiguration().GetAppVersion()));
  setFixedSize(sizeHint());
}

ExternalParams THauptForm::ManualParams() const {
  ExternalParams params;
  for (size_t i = 0; i < 6; ++i) {
    const QString n = ParamNameEdits[i]->text().trimmed();
    const QString w = ParamWertEdits[i]->text().trimmed();
    if (!n.isEmpty() && !w.isEmpty()) params.push_back({n.toStdString(), Value(w.toStdString())});
  }
  return params;
}

void THauptForm::ExportManually() {
  struct CloseAfter {
    db::TIBRDATABASE& d;
    ~CloseAfter() { d.Close(); }
  } closer{Datenbank};
  const ExternalParams params = ManualParams();
  ExportReportToFile(Datenbank, BereichEdit->text().trimmed().toStdString(),
                     ArtEdit->text().trimmed().toStdString(), FormularEdit->text().trimmed().toStdString(),
                     params, "pdf", folder_ + "tarvoreport.pdf");
}

void THauptForm::PdfButtonClick() {
  try {
    ExportManually();
  } catch (const std::exception& e) {
    // The program's general error handling: the message in a box.
    QMessageBox::critical(this, "TARVOreport", QString::fromStdString(e.what()));
  }
}

}  // namespace tarvo::report
