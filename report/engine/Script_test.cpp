#include "report/engine/Script.h"

#include <gtest/gtest.h>

namespace tarvo::report {
namespace {

class OneRow : public IFieldSource {
 public:
  Value Field(const std::string& upper) const override {
    if (upper == "NAME") return Value("Müller");
    if (upper == "BETRAG") return Value(12.5);
    if (upper == "DATUM") return Value(DateTime{2024, 2, 29, 10, 15, 0, 0});
    throw std::runtime_error("Feld " + upper + " fehlt");
  }
  bool Eof() const override { return false; }
  int RecNo() const override { return 1; }
};

TEST(ScriptEngine, DataSetFieldsVariablesAndRegisteredFunctions) {
  FormatSettings fs = FormatSettings::German();
  FunctionRegistry reg;
  std::vector<Value> seen;
  reg.Add({"Verdoppeln", "function Verdoppeln(x: Extended): Extended", "TARVO-Funktionen", "doppelt",
           [&](const std::vector<Value>& a) {
             seen = a;
             return Value(a.at(0).ToNumber() * 2);
           }});
  ScriptEngine s(fs, &reg);
  OneRow row;
  s.BindDataSet("Buchung", &row);
  s.SetGlobal("PARAMS", Value("NR=1\r"));

  EXPECT_EQ(s.Eval("Buchung.NAME"), Value("Müller"));
  EXPECT_EQ(s.Eval("buchung.name"), Value("Müller"));  // names in any case
  EXPECT_EQ(s.Eval("Buchung[\"betrag\"] * 2"), Value(25.0));
  EXPECT_EQ(s.Eval("PARAMS"), Value("NR=1\r"));
  // Registered functions are found by their upper-case name.
  EXPECT_EQ(s.Eval("VERDOPPELN(4)"), Value(8.0));
  EXPECT_EQ(s.Eval("verdoppeln(Buchung.BETRAG)"), Value(25.0));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], Value(12.5));
  // Date-times travel as date-times and print in the locale's form.
  EXPECT_EQ(s.Eval("Buchung.DATUM"), Value(DateTime{2024, 2, 29, 10, 15, 0, 0}));
  EXPECT_EQ(s.Eval("tostring(Buchung.DATUM)"), Value("29.02.2024 10:15:00"));
  EXPECT_EQ(s.Eval("Buchung.DATUM.year"), Value(int64_t{2024}));
}

TEST(ScriptEngine, ErrorsBecomeExceptionsWithLuasMessage) {
  FormatSettings fs = FormatSettings::German();
  FunctionRegistry reg;
  reg.Add({"BOOM", "", "", "", [](const std::vector<Value>&) -> Value {
             throw std::runtime_error("kaputt");
           }});
  ScriptEngine s(fs, &reg);
  OneRow row;
  s.BindDataSet("B", &row);
  const struct {
    const char* code;
    const char* part;
  } cases[] = {
      {"x = = 1", "Script:1:"},
      {"local t = nil; return t.x", "nil"},
      {"error('selbst gemacht')", "selbst gemacht"},
      {"return BOOM()", "kaputt"},
      {"return B.FEHLT", "Feld FEHLT fehlt"},
      {"return io.open('/etc/passwd')", "io"},
      {"return os.execute('true')", "os"},
  };
  for (const auto& c : cases) {
    try {
      s.Run(c.code, "Script");
      ADD_FAILURE() << "no error: " << c.code;
    } catch (const EScriptError& e) {
      EXPECT_NE(std::string(e.what()).find(c.part), std::string::npos) << c.code << " -> " << e.what();
    }
  }
  EXPECT_THROW(s.Eval("1 +"), EScriptError);
  // The state stays usable after errors.
  EXPECT_EQ(s.Eval("1 + 1"), Value(int64_t{2}));
}

TEST(ScriptEngine, AnEndlessScriptRunsIntoTheTimeLimit) {
  FormatSettings fs = FormatSettings::German();
  ScriptEngine s(fs, nullptr);
  s.SetTimeLimit(std::chrono::milliseconds(50));
  try {
    s.Run("while true do end", "Script");
    ADD_FAILURE() << "no error";
  } catch (const EScriptError& e) {
    EXPECT_NE(std::string(e.what()).find("Skriptlaufzeit"), std::string::npos) << e.what();
  }
}

TEST(ScriptEngine, CancelSetsTheFlag) {
  FormatSettings fs = FormatSettings::German();
  ScriptEngine s(fs, nullptr);
  EXPECT_FALSE(s.Cancelled());
  s.Run("if PARAMS == nil then Cancel() end", "Script");
  EXPECT_TRUE(s.Cancelled());
}

}  // namespace
}  // namespace tarvo::report
