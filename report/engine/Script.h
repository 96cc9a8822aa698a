// Lua for a report's scripts and [expression] parts. One ScriptEngine per
// preparation; single-threaded.
//
// Globals seen by scripts: the report's data sets by name (a field is
// `Buchung.NAME` or `Buchung["NAME 1"]`, names without regard to letter
// case), the report variables (PARAMS among them), PAGE, TOTALPAGES, LINE,
// the engine's own helpers and the functions of a FunctionRegistry. A
// global that is not defined is looked up by its upper-case name among the
// data sets and the registered functions, so `kw(d)` calls KW.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/FormatSettings.h"
#include "report/engine/Value.h"

struct lua_State;
struct lua_Debug;

namespace tarvo::report {

// A script or expression failed; what() is Lua's message.
class EScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A named C++ function callable from scripts. `declaration` is the script
// signature as shown to template authors, `category` and `description` go
// with it into the list of functions.
struct ScriptFunction {
  std::string name;  // called by its upper-case form
  std::string declaration;
  std::string category;
  std::string description;
  std::function<Value(const std::vector<Value>& args)> call;
};

// Functions in order of registration, found by upper-case name.
class FunctionRegistry {
 public:
  void Add(ScriptFunction f);  // a second function of the same name replaces the first
  const ScriptFunction* Find(const std::string& name) const;  // any letter case
  const std::vector<ScriptFunction>& Functions() const { return functions_; }

 private:
  std::vector<ScriptFunction> functions_;
  std::map<std::string, size_t> byUpperName_;
};

// What a data set global reads: the current row of a cursor.
class IFieldSource {
 public:
  virtual ~IFieldSource() = default;
  // Raises std::runtime_error when the field does not exist.
  virtual Value Field(const std::string& upperName) const = 0;
  virtual bool Eof() const = 0;
  virtual int RecNo() const = 0;  // 1-based; 0 when empty
};

class ScriptEngine {
 public:
  // `functions` may be null; it must outlive the engine.
  ScriptEngine(const FormatSettings& fs, const FunctionRegistry* functions);
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  void SetGlobal(const std::string& name, const Value& value);
  Value GetGlobal(const std::string& name);
  // Binds a data set global; the source must outlive its binding.
  void BindDataSet(const std::string& name, const IFieldSource* source);
  // Engine helpers callable as NAME(args) that are no registry functions.
  void AddBuiltin(const std::string& name, std::function<Value(const std::vector<Value>&)> fn);

  // Runs a chunk; raises EScriptError. Returns the chunk's first result.
  Value Run(const std::string& code, const std::string& chunkName);
  // Evaluates an expression (compiled once, then cached). Raises EScriptError.
  Value Eval(const std::string& expression);

  // Scripts that run longer than this in total fail with "Skriptlaufzeit
  // überschritten" instead of holding the worker forever (default 60 s).
  void SetTimeLimit(std::chrono::milliseconds limit);

  // Set by the script function Cancel(): the preparation stops.
  bool Cancelled() const { return cancelled_; }

  lua_State* State() { return L_; }

  // Conversions between Lua values and Values (date-times are tables with
  // year, month, day, hour, min, sec fields and a metatable).
  void Push(const Value& v);
  Value ToValue(int index);

 private:
  static int GlobalIndex(lua_State* L);
  static int DataSetIndex(lua_State* L);
  static int CallFunction(lua_State* L);
  static int CancelFn(lua_State* L);
  static int DateTimeToString(lua_State* L);
  static ScriptEngine* Self(lua_State* L);
  static void TimeHook(lua_State* L, lua_Debug* ar);

  lua_State* L_;
  const FormatSettings& fs_;
  const FunctionRegistry* functions_;
  bool cancelled_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::map<std::string, const IFieldSource*> dataSets_;  // upper-case names
  std::map<std::string, std::function<Value(const std::vector<Value>&)>> builtins_;  // upper-case
  std::map<std::string, int> compiled_;  // expression -> registry reference
};

}  // namespace tarvo::report
