// The report template: pages of bands holding objects, the data sets the
// bands are bound to, the script. Read from our XML template format
// (docs/report-templates.md) by ReadTemplate. Units are millimetres.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/engine/Value.h"

namespace tarvo::report {

// Any fault of a template: broken XML, unknown elements or attributes with
// bad values, unknown parents. what() is the message shown to the user.
class ETemplateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct QueryParam {
  std::string name;
  DataType type = DataType::String;
  std::string expression;  // empty: takes `value`
  Value value;             // null when nothing is stored
};

struct DataSetDef {
  std::string name;
  std::string sql;
  std::vector<QueryParam> params;
};

enum class ObjectKind { Text, Picture, Line, Rect, Rich };
enum class HAlign { Left, Center, Right, Justify };
enum class VAlign { Top, Center, Bottom };

struct Frame {
  bool left = false, top = false, right = false, bottom = false;
  double width = 0.2;          // mm
  std::string color = "#000000";
  bool Any() const { return left || top || right || bottom; }
};

struct ObjectDef {
  ObjectKind kind = ObjectKind::Text;
  std::string name;
  double left = 0, top = 0, width = 0, height = 0;  // mm, relative to the band
  // Text and rich text.
  std::string text;  // text with [expression] parts; rich: the RTF
  std::string fontFamily = "DejaVu Sans";
  double fontSize = 10;  // points
  bool bold = false, italic = false, underline = false;
  HAlign align = HAlign::Left;
  VAlign valign = VAlign::Top;
  bool wordWrap = true;
  bool stretch = false;    // grows with its text
  bool stretchToBand = false;  // takes the band's final height (stretch="band")
  bool shift = true;       // moves down when an object above it grows
  std::string color = "#000000";
  std::string fill;        // empty: transparent
  Frame frame;
  std::string format;      // display format, see docs
  bool hideZero = false;
  // Picture.
  std::string source;      // expression giving the bytes (a blob field)
  std::string file;        // file name
  std::string data;        // embedded bytes (decoded from base64)
  bool keepAspect = true;
  std::string tag;         // free text; Zeigebelegt reads a label field's name from it
  // Line and rectangle: lines run from (left, top) to (left+width, top+height).
  double lineWidth = 0.2;
};

enum class BandKind {
  ReportTitle,
  PageHeader,
  PageFooter,
  MasterData,
  DetailData,
  GroupHeader,
  GroupFooter,
  ReportSummary
};

struct BandDef {
  BandKind kind = BandKind::MasterData;
  std::string name;
  double height = 0;         // mm, the least height
  bool stretch = true;       // grows with stretching objects
  bool allowSplit = true;    // may break across pages when taller than the space left
  bool startNewPage = false; // begins on a fresh page
  std::string dataSet;       // master and detail bands
  std::string condition;     // group header: expression whose change starts a group
  std::string beforePrint;   // Lua run before the band is laid out
  bool visible = true;
  std::vector<ObjectDef> objects;
};

struct PageDef {
  std::string name;
  double width = 210, height = 297;  // mm, after orientation
  bool landscape = false;
  double marginLeft = 10, marginTop = 10, marginRight = 10, marginBottom = 10;
  bool dialog = false;   // a dialog page: kept with the report, never laid out
  bool visible = true;
  std::vector<BandDef> bands;
  std::vector<std::pair<std::string, std::string>> dialogControls;  // kind, name
};

struct ReportDef {
  std::string name;
  std::string parent;      // parent name as area_kind_name; empty without
  std::string script;      // Lua, run at the start of the preparation
  std::vector<DataSetDef> dataSets;  // template order
  std::vector<PageDef> pages;        // report pages and dialog pages, in order
  std::vector<std::pair<std::string, Value>> variables;  // report variables

  DataSetDef* FindDataSet(const std::string& name);
  // Sets or adds a report variable.
  void SetVariable(const std::string& name, Value value);
};

// Supplies the bytes of a parent template by its name; raises when there is
// none. Called while reading, once per parent in the chain.
using ParentLoader = std::function<std::string(const std::string& parentName)>;

// Reads a template. A template naming a parent asks `loadParent` for it,
// reads it the same way (its own parents included) and inherits from it:
// pages, bands and data sets of the same name are merged, objects of the
// same name are replaced by the child's, everything else is added, and the
// parent's script runs before the child's. Raises ETemplateError.
ReportDef ReadTemplate(const std::string& xml, const ParentLoader& loadParent);

// Merges `child` into `parent` (inheritance as above) and returns the result.
ReportDef MergeTemplates(ReportDef parent, const ReportDef& child);

}  // namespace tarvo::report
