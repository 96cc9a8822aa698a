#include "report/DruckEngineFastReport.h"

#include <QString>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/Konstanten.h"
#include "report/DbDataProvider.h"
#include "report/TarvoFunktionen.h"
#include "report/engine/Export.h"

namespace tarvo::report {

namespace {

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// The file name with its extension replaced (or added when it has none).
std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return path.substr(0, dot) + ext;
  return path + ext;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  out = s.str();
  return true;
}

}  // namespace

std::string& SignedInUserName() {
  static std::string name;
  return name;
}
std::string& SignedInLoginName() {
  static std::string name;
  return name;
}

const char* const TDruckEngineFastReportForm::kVorlagenSQL =
    "SELECT\n"
    "    V.*,\n"
    "    (SELECT K.WERT FROM T_KONFIGURATION K WHERE K.BEREICH=\"VORSCHAUDRUCKEN\" AND "
    "K.KATEGORIE=\"System\") AS VORSCHAUDRUCK\n"
    "FROM\n"
    "    VORLAGEN V\n"
    "WHERE\n"
    "    V.DOKTYP='F'\n"
    "    AND\n"
    "    V.BEREICH=:BEREICH\n"
    "    AND\n"
    "    V.ART=:ART";

const char* const TDruckEngineFastReportForm::kTemplateSQL =
    "Select Haupttext\n"
    "from\n"
    "Vorlagen where\n"
    "Bereich=:Bereich\n"
    "and\n"
    "art=:ART\n"
    "and\n"
    "name=:NAME";

TDruckEngineFastReportForm::TDruckEngineFastReportForm() : fs_(SystemFormatSettings()) {
  FSilentMode = false;
  FParamBufferEnabled = false;
  FExternalParamas = nullptr;
  RegisterTarvoFunktionen(*this);
}

TDruckEngineFastReportForm::~TDruckEngineFastReportForm() = default;

void TDruckEngineFastReportForm::SetDatabase(db::TIBRDATABASE& database) {
  database_ = &database;
  VorlagenQuery = std::make_unique<db::TIBRQuery>(database);
  VorlagenQuery->SetSQL(kVorlagenSQL);
  TemplateQuery = std::make_unique<db::TIBRQuery>(database);
  TemplateQuery->SetSQL(kTemplateSQL);
}

void TDruckEngineFastReportForm::LoadJobTemplate(const std::string& area, const std::string& kind,
                                                 const std::string& name) {
  if (!VorlagenQuery) throw std::logic_error("LoadJobTemplate ohne Datenbank");
  db::TIBRQuery& q = *VorlagenQuery;
  q.Close();
  q.SetParamText("BEREICH", area);
  q.SetParamText("ART", kind);
  q.Open();
  if (q.Eof())
    throw std::runtime_error("Das Formular BEREICH=" + area + " , ART=" + kind + " ist nicht vorhanden");
  const int nameField = q.FieldIndex("NAME");
  const int typeField = q.FieldIndex("DOKTYP");
  const int textField = q.FieldIndex("HAUPTTEXT");
  bool found = false;
  for (; !q.Eof(); q.Next()) {
    if (SameTextIgnoringCase(q.AsText(nameField), name)) {
      found = true;
      break;
    }
  }
  if (!found)
    throw std::runtime_error("Das Formular BEREICH=" + area + " , ART=" + kind + " ,NAME=" + name +
                             " ist nicht vorhanden");
  if (q.AsText(typeField) != "F")
    throw std::runtime_error("Das Formular BEREICH=" + area + " , ART=" + kind + " ,NAME=" + name +
                             " hat das falsche Format");
  templateStream_ = q.AsBytes(textField);
  q.Close();
  report_ = ReadTemplate(templateStream_, [this](const std::string& parent) {
    return FastReportLoadTemplate(parent);
  });
}

std::string TDruckEngineFastReportForm::FastReportLoadTemplate(const std::string& parentName) {
  const std::string folder = userFolderSet_ ? userFolder_ : UserDataFolder("");
  const std::string local = folder.empty() ? ChangeFileExt("/" + parentName, ".fr3")
                                           : ChangeFileExt(folder + parentName, ".fr3");
  std::string bytes;
  std::error_code ec;
  if (std::filesystem::is_regular_file(local, ec) && ReadWholeFile(local, bytes)) return bytes;

  std::string area, kind, name = parentName;
  const size_t first = parentName.find('_');
  if (first != std::string::npos) {
    area = parentName.substr(0, first);
    const std::string rest = parentName.substr(first + 1);
    const size_t second = rest.find('_');
    if (second == std::string::npos) {
      kind = rest;
      name.clear();
    } else {
      kind = rest.substr(0, second);
      name = rest.substr(second + 1);
    }
  }
  if (!TemplateQuery) throw std::logic_error("FastReportLoadTemplate ohne Datenbank");
  db::TIBRQuery& q = *TemplateQuery;
  q.Close();
  q.SetParamText("Bereich", area);
  q.SetParamText("ART", kind);
  q.SetParamText("NAME", name);
  q.Open();
  if (q.Eof()) throw std::runtime_error("Die zugehörige Vorlage (" + parentName + ") ist nicht mehr vorhanden.");
  bytes = q.AsBytes(0);
  q.Close();
  return bytes;
}

bool TDruckEngineFastReportForm::AssignParams(const ExternalParams& params, ReportDef& report) {
  for (auto& d : report.dataSets) {
    for (auto& p : d.params) {
      const std::string pn = Upper(p.name);
      for (const auto& e : params) {
        if (pn == "USERNAME") p.value = Value(SignedInUserName().empty() ? std::string("?") : SignedInUserName());
        if (pn == "LOGINNAME") p.value = Value(SignedInLoginName().empty() ? std::string("?") : SignedInLoginName());
        const std::string en = Upper(e.name);
        if ((pn == en || pn == "_" + en) && p.expression.empty()) {
          p.value = e.value;
          p.type = e.value.IsDateTime() ? DataType::DateTime : DataType::String;
        }
      }
    }
  }
  for (const auto& d : report.dataSets)
    for (const auto& p : d.params)
      if (p.expression.empty() && p.value.ToText(fs_).empty())
        throw std::runtime_error("Der erforderliche Parameter " + p.name + " ist nicht vorhanden");
  std::string text = "Es wurden keine externen Parameter übergeben";
  if (!params.empty()) {
    text.clear();
    for (const auto& e : params) text += e.name + "=" + e.value.ToText(fs_) + "\r";
  }
  text += "USERNAME=" + SignedInUserName() + "\r" + "LOGINNAME=" + SignedInLoginName() + "\r";
  report.SetVariable("PARAMS", Value(text));
  return true;
}

void TDruckEngineFastReportForm::FastReportBeginDoc() {
  static const ExternalParams none;
  AssignParams(FExternalParamas ? *FExternalParamas : none, report_);
}

void TDruckEngineFastReportForm::Exportieren(db::TIBRDATABASE& database, const std::string& area,
                                             const std::string& kind, const std::string& name,
                                             const ExternalParams& params, const std::string& format,
                                             const std::string& outputFile) {
  if (database_ != &database) SetDatabase(database);
  LoadJobTemplate(area, kind, name);
  // Silent: dialog pages stay invisible; errors arrive as exceptions.
  for (auto& p : report_.pages)
    if (p.dialog) p.visible = false;
  AssignParams(params, report_);
  DbDataProvider data(database);
  ReportEngine engine(report_, data, fs_, &functions_);
  engine.OnBeginDoc = [this] { FastReportBeginDoc(); };
  if (!engine.Prepare()) {
    templateStream_.clear();
    return;  // a script cancelled: nothing to export, no error
  }
  const std::string upper = Upper(format);
  static const char* const kFormats[] = {"PDF", "RTF", "CSV", "JPG", "HTML", "HTM"};
  bool known = false;
  for (const char* f : kFormats) known = known || upper == f;
  if (known) {
    if (auto exporter = ExporterFor(upper)) exporter->Export(engine.Prepared(), outputFile, WorkerDocumentInfo(report_.name));
  }
  templateStream_.clear();
}

DocumentInfo WorkerDocumentInfo(const std::string& title) {
  return DocumentInfo{title, "RUZIRuruvuvuv", "PDF Dokument", "FastReport"};
}

void TPrintEngine::DoExport(db::TIBRDATABASE& database, const std::string& area, const std::string& kind,
                            const std::string& name, const ExternalParams& params, const std::string& format,
                            const std::string& outputFile) {
  auto form = std::make_unique<TDruckEngineFastReportForm>();
  form->FSilentMode = true;
  form->SetDatabase(database);
  form->SetExternalParams(&params);
  form->Exportieren(database, area, kind, name, params, format, outputFile);
}

void ExportReportToFile(db::TIBRDATABASE& database, const std::string& area, const std::string& kind,
                        const std::string& name, const ExternalParams& params, const std::string& format,
                        const std::string& outputFile) {
  auto engine = std::make_unique<TPrintEngine>();
  engine->DoExport(database, area, kind, name, params, format, outputFile);
}

}  // namespace tarvo::report
