// The worker's main window (manual mode): area, kind, template name, six
// parameter pairs and "PDF speichern", which writes tarvoreport.pdf in the
// program folder. Owns the database connection of the worker.
#pragma once

#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusBar>

#include <array>
#include <string>

#include "common/IBTarvo.h"
#include "report/DruckEngineFastReport.h"

namespace tarvo::report {

class THauptForm : public QMainWindow {
  Q_OBJECT
 public:
  // Reads the configuration and points the connection at DATENBANKPFAD;
  // the connection opens on first use.
  explicit THauptForm(const std::string& programFolder);

  // The parameters of the six pairs whose trimmed name and value are both
  // non-empty, trimmed, in order, as text.
  ExternalParams ManualParams() const;
  // The manual export; raises what ExportReportToFile raises. The
  // connection is closed afterwards in every case.
  void ExportManually();

  db::TIBRDATABASE Datenbank;
  QLineEdit* BereichEdit;
  QLineEdit* ArtEdit;
  QLineEdit* FormularEdit;
  std::array<QLineEdit*, 6> ParamNameEdits;
  std::array<QLineEdit*, 6> ParamWertEdits;
  QPushButton* PdfButton;
  QStatusBar* Statuszeile;

 private slots:
  void PdfButtonClick();

 private:
  std::string folder_;
};

}  // namespace tarvo::report
