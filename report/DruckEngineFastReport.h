// The worker's engine form: finds the job's template in VORLAGEN (with its
// parents), fills the template's query parameters from the job's external
// parameters, prepares the report and exports it to one file.
//
// One TDruckEngineFastReportForm per export, created and freed by
// TPrintEngine::DoExport; nothing survives from one export to the next.
// Single-threaded. Every failure is an exception whose what() is the text
// the worker logs: the store's and the parameters' messages below, the
// database's, the script's or the template reader's own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/FormatSettings.h"
#include "common/IBTarvo.h"
#include "report/engine/Export.h"
#include "report/engine/Layout.h"
#include "report/engine/Script.h"
#include "report/engine/Template.h"
#include "report/engine/Value.h"

namespace tarvo::report {

// One external parameter of a job: a text or a date-time value.
struct ExternalParam {
  std::string name;
  Value value;
};
using ExternalParams = std::vector<ExternalParam>;

// The signed-in user's names; the worker has no sign-in, so both stay empty.
std::string& SignedInUserName();
std::string& SignedInLoginName();

class TDruckEngineFastReportForm {
 public:
  // Captures the system's format settings. Functions added to Functions()
  // are callable from the template's scripts by their upper-case name.
  TDruckEngineFastReportForm();
  ~TDruckEngineFastReportForm();

  // The connection the template queries and the template's data sets use;
  // it must outlive the form.
  void SetDatabase(db::TIBRDATABASE& database);
  // The job's parameters; not owned, must outlive the export.
  void SetExternalParams(const ExternalParams* params) { FExternalParamas = params; }

  // Finds the template by area and kind (query) and name (ignoring letter
  // case), checks DOKTYP and loads it with its parents into FastReport().
  void LoadJobTemplate(const std::string& area, const std::string& kind, const std::string& name);
  // The bytes of parent template P: the per-user override file P + ".fr3"
  // when it exists, else the parent query's first row.
  std::string FastReportLoadTemplate(const std::string& parentName);

  // Fills the query parameters of `report` and its PARAMS variable; raises
  // "Der erforderliche Parameter <name> ist nicht vorhanden".
  bool AssignParams(const ExternalParams& params, ReportDef& report);
  // Run at the start of every preparation: AssignParams again.
  void FastReportBeginDoc();

  // Loads, fills, prepares and exports (see the class comment).
  void Exportieren(db::TIBRDATABASE& database, const std::string& area, const std::string& kind,
                   const std::string& name, const ExternalParams& params, const std::string& format,
                   const std::string& outputFile);

  ReportDef& FastReport() { return report_; }
  FunctionRegistry& Functions() { return functions_; }
  const FormatSettings& fs() const { return fs_; }
  // The per-user folder searched for parent override files ("" when none);
  // tests point it elsewhere.
  void SetUserTemplateFolder(std::string folder) {
    userFolder_ = std::move(folder);
    userFolderSet_ = true;
  }

  bool FSilentMode = false;
  bool FParamBufferEnabled = false;
  const ExternalParams* FExternalParamas = nullptr;

  // The statements of the template query and the parent query.
  static const char* const kVorlagenSQL;
  static const char* const kTemplateSQL;

 private:
  FormatSettings fs_;
  FunctionRegistry functions_;
  ReportDef report_;
  std::string templateStream_;
  db::TIBRDATABASE* database_ = nullptr;
  std::unique_ptr<db::TIBRQuery> VorlagenQuery;
  std::unique_ptr<db::TIBRQuery> TemplateQuery;
  std::string userFolder_;
  bool userFolderSet_ = false;
};

// The per-call object of ExportReportToFile.
class TPrintEngine {
 public:
  void DoExport(db::TIBRDATABASE& database, const std::string& area, const std::string& kind,
                const std::string& name, const ExternalParams& params, const std::string& format,
                const std::string& outputFile);
};

// The export both modes of the worker call. Raises on every failure.
void ExportReportToFile(db::TIBRDATABASE& database, const std::string& area, const std::string& kind,
                        const std::string& name, const ExternalParams& params, const std::string& format,
                        const std::string& outputFile);

// The document information every PDF of the worker carries.
DocumentInfo WorkerDocumentInfo(const std::string& title);

}  // namespace tarvo::report
