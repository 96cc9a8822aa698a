#include "report/engine/Script.h"

#include <lua.hpp>

#include <cctype>

#include "common/TextUtil.h"

namespace tarvo::report {

namespace {

const char* const kSelfKey = "tarvo.engine";
const char* const kDateTimeMeta = "tarvo.DateTime";
const char* const kDataSetsKey = "tarvo.datasets";

// Throws the error message on top of the stack, the stack reset to `top`.
[[noreturn]] void ThrowLuaError(lua_State* L, int top) {
  std::string msg = lua_tostring(L, -1) ? lua_tostring(L, -1) : "Lua-Fehler";
  lua_settop(L, top);
  throw EScriptError(msg);
}

// Raises a Lua error with `message` after every C++ object of the caller is
// gone: the caller returns RaiseLater(L, msg) only from outside its try scope.
int RaiseMessage(lua_State* L, std::string& message) {
  lua_pushlstring(L, message.data(), message.size());
  std::string().swap(message);
  return lua_error(L);
}

int DateField(lua_State* L, int index, const char* name) {
  lua_getfield(L, index, name);
  int v = static_cast<int>(lua_tointeger(L, -1));
  lua_pop(L, 1);
  return v;
}

}  // namespace

void FunctionRegistry::Add(ScriptFunction f) {
  const std::string key = AsciiUpper(f.name);
  auto it = byUpperName_.find(key);
  if (it != byUpperName_.end()) {
    functions_[it->second] = std::move(f);
    return;
  }
  byUpperName_[key] = functions_.size();
  functions_.push_back(std::move(f));
}

const ScriptFunction* FunctionRegistry::Find(const std::string& name) const {
  auto it = byUpperName_.find(AsciiUpper(name));
  return it == byUpperName_.end() ? nullptr : &functions_[it->second];
}

ScriptEngine::ScriptEngine(const FormatSettings& fs, const FunctionRegistry* functions)
    : L_(luaL_newstate()), fs_(fs), functions_(functions) {
  if (!L_) throw EScriptError("Lua: kein Speicher");
  // Only libraries without access to files or processes.
  const luaL_Reg libs[] = {{LUA_GNAME, luaopen_base},       {LUA_TABLIBNAME, luaopen_table},
                           {LUA_STRLIBNAME, luaopen_string}, {LUA_MATHLIBNAME, luaopen_math},
                           {LUA_UTF8LIBNAME, luaopen_utf8}};
  for (const auto& lib : libs) {
    luaL_requiref(L_, lib.name, lib.func, 1);
    lua_pop(L_, 1);
  }
  for (const char* unsafe : {"dofile", "loadfile", "load", "require", "collectgarbage"}) {
    lua_pushnil(L_);
    lua_setglobal(L_, unsafe);
  }
  lua_pushlightuserdata(L_, this);
  lua_setfield(L_, LUA_REGISTRYINDEX, kSelfKey);
  lua_newtable(L_);
  lua_setfield(L_, LUA_REGISTRYINDEX, kDataSetsKey);

  luaL_newmetatable(L_, kDateTimeMeta);
  lua_pushcfunction(L_, &ScriptEngine::DateTimeToString);
  lua_setfield(L_, -2, "__tostring");
  lua_pop(L_, 1);

  lua_pushglobaltable(L_);
  lua_newtable(L_);
  lua_pushcfunction(L_, &ScriptEngine::GlobalIndex);
  lua_setfield(L_, -2, "__index");
  lua_setmetatable(L_, -2);
  lua_pop(L_, 1);

  lua_pushcfunction(L_, &ScriptEngine::CancelFn);
  lua_setglobal(L_, "Cancel");
  SetTimeLimit(std::chrono::seconds(60));
}

void ScriptEngine::SetTimeLimit(std::chrono::milliseconds limit) {
  deadline_ = std::chrono::steady_clock::now() + limit;
  lua_sethook(L_, &ScriptEngine::TimeHook, LUA_MASKCOUNT, 100000);
}

void ScriptEngine::TimeHook(lua_State* L, lua_Debug*) {
  if (std::chrono::steady_clock::now() > Self(L)->deadline_) luaL_error(L, "Skriptlaufzeit überschritten");
}

ScriptEngine::~ScriptEngine() { lua_close(L_); }

ScriptEngine* ScriptEngine::Self(lua_State* L) {
  lua_getfield(L, LUA_REGISTRYINDEX, kSelfKey);
  auto* self = static_cast<ScriptEngine*>(lua_touserdata(L, -1));
  lua_pop(L, 1);
  return self;
}

void ScriptEngine::Push(const Value& v) {
  if (v.IsNull()) lua_pushnil(L_);
  else if (v.IsText()) lua_pushlstring(L_, v.Text().data(), v.Text().size());
  else if (v.IsInteger()) lua_pushinteger(L_, v.Integer());
  else if (v.IsFloat()) lua_pushnumber(L_, v.Float());
  else if (v.IsBool()) lua_pushboolean(L_, v.Bool());
  else if (v.IsBytes()) lua_pushlstring(L_, v.BytesData().data(), v.BytesData().size());
  else {
    const DateTime& d = v.AsDateTimeValue();
    lua_createtable(L_, 0, 7);
    const std::pair<const char*, int> fields[] = {{"year", d.year}, {"month", d.month},
                                                  {"day", d.day},   {"hour", d.hour},
                                                  {"min", d.minute}, {"sec", d.second},
                                                  {"msec", d.millisecond}};
    for (const auto& [name, value] : fields) {
      lua_pushinteger(L_, value);
      lua_setfield(L_, -2, name);
    }
    luaL_setmetatable(L_, kDateTimeMeta);
  }
}

Value ScriptEngine::ToValue(int index) {
  index = lua_absindex(L_, index);
  switch (lua_type(L_, index)) {
    case LUA_TNIL:
    case LUA_TNONE:
      return {};
    case LUA_TBOOLEAN:
      return Value(static_cast<bool>(lua_toboolean(L_, index)));
    case LUA_TNUMBER:
      if (lua_isinteger(L_, index)) return Value(static_cast<int64_t>(lua_tointeger(L_, index)));
      return Value(static_cast<double>(lua_tonumber(L_, index)));
    case LUA_TSTRING: {
      size_t n = 0;
      const char* s = lua_tolstring(L_, index, &n);
      return Value(std::string(s, n));
    }
    case LUA_TTABLE:
      if (lua_getmetatable(L_, index)) {
        luaL_getmetatable(L_, kDateTimeMeta);
        bool isDate = lua_rawequal(L_, -1, -2);
        lua_pop(L_, 2);
        if (isDate) {
          DateTime d;
          d.year = DateField(L_, index, "year");
          d.month = DateField(L_, index, "month");
          d.day = DateField(L_, index, "day");
          d.hour = DateField(L_, index, "hour");
          d.minute = DateField(L_, index, "min");
          d.second = DateField(L_, index, "sec");
          d.millisecond = DateField(L_, index, "msec");
          return Value(d);
        }
      }
      [[fallthrough]];
    default: {
      size_t n = 0;
      const char* s = luaL_tolstring(L_, index, &n);
      std::string text(s, n);
      lua_pop(L_, 1);
      return Value(text);
    }
  }
}

int ScriptEngine::DateTimeToString(lua_State* L) {
  ScriptEngine* self = Self(L);
  Value v = self->ToValue(1);
  std::string text = v.ToText(self->fs_);
  lua_pushlstring(L, text.data(), text.size());
  return 1;
}

int ScriptEngine::CancelFn(lua_State* L) {
  Self(L)->cancelled_ = true;
  return 0;
}

int ScriptEngine::GlobalIndex(lua_State* L) {
  if (lua_type(L, 2) != LUA_TSTRING) return 0;
  ScriptEngine* self = Self(L);
  const std::string key = AsciiUpper(lua_tostring(L, 2));
  if (self->dataSets_.count(key)) {
    lua_getfield(L, LUA_REGISTRYINDEX, kDataSetsKey);
    lua_getfield(L, -1, key.c_str());
    return 1;
  }
  if (self->builtins_.count(key) || (self->functions_ && self->functions_->Find(key))) {
    lua_pushstring(L, key.c_str());
    lua_pushcclosure(L, &ScriptEngine::CallFunction, 1);
    return 1;
  }
  return 0;
}

int ScriptEngine::DataSetIndex(lua_State* L) {
  auto* source = static_cast<const IFieldSource*>(lua_touserdata(L, lua_upvalueindex(1)));
  ScriptEngine* self = Self(L);
  std::string error;
  {
    try {
      std::string field = AsciiUpper(luaL_tolstring(L, 2, nullptr));
      lua_pop(L, 1);
      Value v = source->Field(field);
      self->Push(v);
      return 1;
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  return RaiseMessage(L, error);
}

int ScriptEngine::CallFunction(lua_State* L) {
  ScriptEngine* self = Self(L);
  std::string error;
  {
    try {
      const std::string name = lua_tostring(L, lua_upvalueindex(1));
      std::vector<Value> args;
      const int n = lua_gettop(L);
      for (int i = 1; i <= n; ++i) args.push_back(self->ToValue(i));
      Value result;
      auto b = self->builtins_.find(name);
      if (b != self->builtins_.end()) {
        result = b->second(args);
      } else {
        result = self->functions_->Find(name)->call(args);
      }
      self->Push(result);
      return 1;
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  return RaiseMessage(L, error);
}

void ScriptEngine::SetGlobal(const std::string& name, const Value& value) {
  Push(value);
  lua_setglobal(L_, name.c_str());
}

Value ScriptEngine::GetGlobal(const std::string& name) {
  lua_getglobal(L_, name.c_str());
  Value v = ToValue(-1);
  lua_pop(L_, 1);
  return v;
}

void ScriptEngine::BindDataSet(const std::string& name, const IFieldSource* source) {
  const std::string key = AsciiUpper(name);
  dataSets_[key] = source;
  lua_getfield(L_, LUA_REGISTRYINDEX, kDataSetsKey);
  lua_newtable(L_);
  lua_newtable(L_);
  lua_pushlightuserdata(L_, const_cast<IFieldSource*>(source));
  lua_pushcclosure(L_, &ScriptEngine::DataSetIndex, 1);
  lua_setfield(L_, -2, "__index");
  lua_setmetatable(L_, -2);
  lua_setfield(L_, -2, key.c_str());
  lua_pop(L_, 1);
  // The name as written is a plain global too, unless a script took it.
  lua_getfield(L_, LUA_REGISTRYINDEX, kDataSetsKey);
  lua_getfield(L_, -1, key.c_str());
  lua_setglobal(L_, name.c_str());
  lua_pop(L_, 1);
}

void ScriptEngine::AddBuiltin(const std::string& name,
                              std::function<Value(const std::vector<Value>&)> fn) {
  builtins_[AsciiUpper(name)] = std::move(fn);
}

Value ScriptEngine::Run(const std::string& code, const std::string& chunkName) {
  const int top = lua_gettop(L_);
  const std::string chunk = "=" + chunkName;
  if (luaL_loadbuffer(L_, code.data(), code.size(), chunk.c_str()) != LUA_OK ||
      lua_pcall(L_, 0, 1, 0) != LUA_OK) {
    ThrowLuaError(L_, top);
  }
  Value v = ToValue(-1);
  lua_settop(L_, top);
  return v;
}

Value ScriptEngine::Eval(const std::string& expression) {
  const int top = lua_gettop(L_);
  auto it = compiled_.find(expression);
  if (it == compiled_.end()) {
    const std::string code = "return " + expression;
    const std::string chunk = "=[" + expression.substr(0, 40) + "]";
    if (luaL_loadbuffer(L_, code.data(), code.size(), chunk.c_str()) != LUA_OK) {
      ThrowLuaError(L_, top);
    }
    it = compiled_.emplace(expression, luaL_ref(L_, LUA_REGISTRYINDEX)).first;
  }
  lua_rawgeti(L_, LUA_REGISTRYINDEX, it->second);
  if (lua_pcall(L_, 0, 1, 0) != LUA_OK) {
    ThrowLuaError(L_, top);
  }
  Value v = ToValue(-1);
  lua_settop(L_, top);
  return v;
}

}  // namespace tarvo::report
