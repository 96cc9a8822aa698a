#include "report/TarvoFunktionen.h"

#include <QString>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/IBTarvoDetail.h"
#include "common/RtfToText.h"
#include "report/DruckEngineFastReport.h"
#include "report/Zeigebelegt.h"
#include "report/engine/Layout.h"

namespace tarvo::report {

namespace {

constexpr const char* kCR = "\r";
constexpr const char* kCRLF = "\r\n";

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

std::string UpperAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() == b.size()) {
    bool ascii = true, same = true;
    for (size_t i = 0; i < a.size() && same; ++i) {
      const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x >= 0x80 || y >= 0x80) {
        ascii = false;
        break;
      }
      same = std::tolower(x) == std::tolower(y);
    }
    if (ascii) return same;
  }
  return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// Lines as a string list reads them: CR LF, LF and CR end lines; a break
// at the very end opens no further line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
  if (from.empty()) return s;
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

// "00" pattern: at least two digits, a minus sign in front.
std::string TwoDigits(int64_t v) {
  char buf[32];
  if (v < 0) std::snprintf(buf, sizeof buf, "-%02lld", static_cast<long long>(-v));
  else std::snprintf(buf, sizeof buf, "%02lld", static_cast<long long>(v));
  return buf;
}

// --- ZahlInWort -----------------------------------------------------------

const char* const kOnes[10] = {"", "ein", "zwei", "drei", "vier", "f\xC3\xBCnf", "sechs", "sieben", "acht", "neun"};
const char* const kTens[10] = {"", "zehn", "zwan", "drei", "vier", "f\xC3\xBCnf", "sech", "sieb", "acht", "neun"};

std::string TwoDigitWords(int t, int u) {
  if (t == 0) {
    if (u == 0) return "";
    if (u == 1) return "eins";
    return kOnes[u];
  }
  if (t == 1) {
    if (u == 1) return "elf";
    if (u == 2) return "zw\xC3\xB6lf";
    return std::string(kTens[u]) + "zehn";
  }
  std::string s;
  if (u > 0) s = std::string(kOnes[u]) + "und";
  s += kTens[t];
  s += t == 3 ? "\xC3\x9F" "ig" : "zig";
  return s;
}

std::string Words(int64_t n) {
  std::string s;
  if (n >= 1000000000) {
    const std::string w = Words(n / 1000000000);
    s += w == "eins" ? "einemilliarde" : w + "milliarden";
    n %= 1000000000;
  }
  if (n >= 1000000) {
    const std::string w = Words(n / 1000000);
    s += w == "eins" ? "einemillion" : w + "millionen";
    n %= 1000000;
  }
  if (n >= 1000) {
    std::string w = Words(n / 1000);
    if (w.size() >= 4 && w.compare(w.size() - 4, 4, "eins") == 0) w.pop_back();
    s += w + "tausend";
    n %= 1000;
  }
  if (n / 100 > 0) s += std::string(kOnes[n / 100]) + "hundert";
  s += TwoDigitWords(static_cast<int>(n % 100 / 10), static_cast<int>(n % 10));
  return s;
}

// --- rounding -------------------------------------------------------------

// 10^g and its reciprocal in extended precision, g in -20..20.
struct PowerOfTen {
  long double f, reciprocal;
};
PowerOfTen Power(int g) {
  long double p = 1;
  for (int i = 0; i < std::abs(g); ++i) p *= 10;  // exact up to 10^27
  return g >= 0 ? PowerOfTen{p, 1 / p} : PowerOfTen{1 / p, p};
}

void CheckRange(const char* name, int genauigkeit) {
  if (genauigkeit < -20 || genauigkeit > 20)
    throw ERangeError(std::string(name) + ": Fehler bei Bereichspr\xC3\xBC" "fung (genauigkeit " +
                      std::to_string(genauigkeit) + " liegt nicht zwischen -20 und 20)");
}

// The scaled value as an integer in the direction asked for; values within
// a few units of the last place of a double from an integer are that
// integer (they come from a decimal input stored in binary).
long double Directed(long double scaled, bool up) {
  const long double nearest = nearbyintl(scaled);
  if (fabsl(scaled - nearest) <= fabsl(scaled) * 0x1p-51L) return nearest;
  return up ? ceill(scaled) : floorl(scaled);
}

double Round(const char* name, double zahl, int genauigkeit, bool up) {
  CheckRange(name, genauigkeit);
  const PowerOfTen p = Power(genauigkeit);
  const long double scaled = static_cast<long double>(zahl) * p.reciprocal;
  return static_cast<double>(Directed(scaled, up) * p.f);
}

// --- argument conversion --------------------------------------------------

std::string Shown(const Value& v, const FormatSettings& fs) {
  if (v.IsNull()) return "Null";
  return "'" + v.ToText(fs) + "'";
}

bool ParseInteger(const std::string& text, int64_t& out) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (b < e && *b == '+') ++b;
  auto r = std::from_chars(b, e, out);
  return b < e && r.ec == std::errc() && r.ptr == e;
}

bool ParseFloat(std::string text, const FormatSettings& fs, double& out) {
  if (text.empty()) return false;
  for (auto& c : text)
    if (c == fs.DecimalSeparator) c = '.';
  for (char c : text)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(out);
}

bool ParseIsoDate(const std::string& t, DateTime& d) {
  auto digits = [&](size_t at, size_t n, int& v) {
    if (at + n > t.size()) return false;
    v = 0;
    for (size_t i = at; i < at + n; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
      v = v * 10 + (t[i] - '0');
    }
    return true;
  };
  if (t.size() != 10 && t.size() != 19) return false;
  if (!digits(0, 4, d.year) || t[4] != '-' || !digits(5, 2, d.month) || t[7] != '-' || !digits(8, 2, d.day))
    return false;
  if (t.size() == 19 && ((t[10] != 'T' && t[10] != ' ') || !digits(11, 2, d.hour) || t[13] != ':' ||
                         !digits(14, 2, d.minute) || t[16] != ':' || !digits(17, 2, d.second)))
    return false;
  return d.HasValidDate() && d.HasValidTime();
}

int64_t ToInt(const Value& v) { return v.Integer(); }
const std::string& ToStr(const Value& v) { return v.Text(); }

// --- registration table ---------------------------------------------------

struct ParamDef {
  const char* name;
  ArgType type;
  bool optional = false;
  Value defaultValue;
};

struct FunctionDef {
  const char* name;
  std::string declaration;
  std::string description;
  std::vector<ParamDef> params;
  std::function<Value(const std::vector<Value>&)> run;
};

// A value that needs no conversion (the common case: fields and literals of
// the declared type).
bool AlreadyOfType(const Value& v, ArgType type) {
  switch (type) {
    case ArgType::Text: return v.IsText();
    case ArgType::Integer: return v.IsInteger() && v.Integer() >= -2147483648LL && v.Integer() <= 2147483647LL;
    case ArgType::Float: return v.IsFloat();
    case ArgType::Boolean: return v.IsBool();
    case ArgType::Date: return v.IsDateTime() && v.AsDateTimeValue().HasValidDate();
  }
  return false;
}

std::string CountText(size_t n) { return std::to_string(n) + (n == 1 ? " Argument" : " Argumente"); }

ScriptFunction Wrap(FunctionDef def, const FormatSettings& fs) {
  ScriptFunction f;
  f.name = def.name;
  f.declaration = def.declaration;
  f.category = kTarvoKategorie;
  f.description = def.description;
  size_t required = 0;
  for (const auto& p : def.params)
    if (!p.optional) ++required;
  f.call = [def = std::move(def), required, &fs](const std::vector<Value>& args) -> Value {
    const size_t most = def.params.size();
    if (args.size() < required || args.size() > most) {
      std::string expected = required == most ? CountText(most) : std::to_string(required) + " bis " + CountText(most);
      if (most == 0) expected = "keine Argumente";
      throw EArgumentError(std::string(def.name) + ": " + expected + " erwartet, " +
                           std::to_string(args.size()) + " \xC3\xBC" "bergeben");
    }
    std::vector<Value> converted;
    converted.reserve(most);
    for (size_t i = 0; i < most; ++i) {
      const ParamDef& p = def.params[i];
      if (i < args.size())
        converted.push_back(AlreadyOfType(args[i], p.type)
                                ? args[i]
                                : ConvertArgument(args[i], p.type, fs, std::string(def.name) + ", Argument " + p.name));
      else
        converted.push_back(p.defaultValue);
    }
    return def.run(converted);
  };
  return f;
}

}  // namespace

int KW(const DateTime& datum) {
  const int64_t days = DaysFromCivil(datum.year, static_cast<unsigned>(datum.month), static_cast<unsigned>(datum.day));
  const int64_t weekday = ((days + 3) % 7 + 7) % 7 + 1;  // 1970-01-01 was a Thursday; Monday = 1
  const int64_t thursday = days + 4 - weekday;
  int y = 0, m = 0, d = 0;
  CivilFromDays(thursday, y, m, d);
  const int64_t dayOfYear = thursday - DaysFromCivil(y, 1, 1);
  return static_cast<int>(dayOfYear / 7 + 1);
}

std::string Pruefziffer(const std::string& text) {
  static const int kCarry[10] = {0, 9, 4, 6, 8, 2, 7, 1, 3, 5};
  if (text.empty()) return "ung\xC3\xBCltige Zahl";
  int carry = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return "ung\xC3\xBCltige Zahl";
    carry = kCarry[(carry + (c - '0')) % 10];
  }
  return std::string(1, static_cast<char>('0' + (10 - carry) % 10));
}

std::string TextFormat(const std::string& text) {
  if (text.empty()) return {};
  const std::string plain = RtfToText(text);
  std::string out;
  out.reserve(plain.size() + 8);
  for (const std::string& line : SplitLines(plain)) {
    out += ReplaceAll(line, "\t", "    ");
    out += kCRLF;
  }
  return out;
}

std::string ParamByName(const std::vector<ExternalParam>* params, const std::string& name,
                        const FormatSettings& fs) {
  if (name.empty()) {
    std::string out;
    if (params)
      for (const auto& p : *params) out += p.name + "=" + p.value.ToText(fs) + kCR;
    out += "USERNAME=" + SignedInUserName() + kCR + "LOGINNAME=" + SignedInLoginName() + kCR;
    return out;
  }
  const std::string upper = UpperAscii(name);
  if (upper == "USERNAME") return SignedInUserName();
  if (upper == "LOGINNAME") return SignedInLoginName();
  if (params)
    for (const auto& p : *params)
      if (SameText(p.name, name)) return p.value.ToText(fs);
  return {};
}

std::string PostAnschrift(const FieldText& F) {
  std::string out = F("Anrede") + kCR;
  out += Trim(F("Titel") + " " + Trim(F("NAME1") + " " + F("NAME2")) + " " + F("Namenszusatz")) + kCR;
  if (!Trim(F("AName1") + F("AName2")).empty()) {
    out += Trim(Trim(Trim(Trim(F("AAnrede") + " " + F("ATitel")) + " " + F("AName1")) + " " + F("AName2")) + " " +
                F("ANamenszusatz")) +
           kCR;
  } else {
    const std::string name3 = F("Name3");
    if (!name3.empty()) out += name3 + kCR;
  }
  out += F("Strasse") + F("Strasse2") + kCR;
  out += Trim(F("PLZ") + " " + F("Ort")) + kCR;
  out += F("Land") + kCR;
  return Trim(out);
}

std::string ZahlInWort(int64_t zahl) {
  if (zahl == 0) return "null";
  if (zahl < 0) return "minus " + ZahlInWort(-zahl);
  std::string s = Words(zahl);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string SekundenInStunden(int64_t sec, bool showSec) {
  const int64_t h = sec / 3600, m = (sec % 3600) / 60, s = (sec % 3600) % 60;
  std::string out = showSec ? ":" + TwoDigits(s) + " Sek" : std::string();
  out = TwoDigits(m) + " Min " + out;
  if (h > 0) out = TwoDigits(h) + " Std :" + out;
  return out;
}

std::string ZusatzFeld(const std::string& content, const std::string& wert) {
  const std::string trimmed = Trim(content);
  if (trimmed.empty()) return {};
  const std::vector<std::string> lines = SplitLines(ReplaceAll(trimmed, "\"", ""));
  auto nameOf = [](const std::string& l) {
    const size_t eq = l.find('=');
    return eq == std::string::npos ? std::string() : l.substr(0, eq);
  };
  auto valueOf = [](const std::string& l) {
    const size_t eq = l.find('=');
    return eq == std::string::npos ? std::string() : l.substr(eq + 1);
  };
  std::string out;
  if (Trim(wert).empty()) {
    for (const auto& l : lines) out += l + kCRLF;
    out = ReplaceAll(ReplaceAll(out, "=", ":   "), "~", kCRLF);
  } else {
    const std::string key = UpperAscii(wert);
    if (key == "LINES") {
      out = std::to_string(lines.size());
    } else if (key == "LABELS") {
      for (const auto& l : lines) out += nameOf(l) + kCR;
    } else if (key == "FIELDS") {
      for (const auto& l : lines) out += ReplaceAll(valueOf(l), "~", kCRLF) + kCR;
    } else {
      for (const auto& l : lines) {
        if (l.find('=') != std::string::npos && SameText(nameOf(l), wert)) {
          out = ReplaceAll(valueOf(l), "~", kCRLF);
          break;
        }
      }
    }
  }
  return Trim(out);
}

std::string Replacetext(const std::string& s, const std::string& von, const std::string& nach) {
  if (von.empty() || s.empty()) return s;
  QString q = QString::fromStdString(s);
  q.replace(QString::fromStdString(von), QString::fromStdString(nach), Qt::CaseInsensitive);
  return q.toStdString();
}

std::string EU(const FormatSettings& fs) { return fs.CurrencySymbol; }

// Rounding in the direction asked for stands in for switching the
// processor's rounding mode around the conversion to an integer.
double Aufrunden(double zahl, int genauigkeit) { return Round("Aufrunden", zahl, genauigkeit, true); }
double Abrunden(double zahl, int genauigkeit) { return Round("Abrunden", zahl, genauigkeit, false); }

Value ConvertArgument(const Value& v, ArgType type, const FormatSettings& fs, const std::string& what) {
  auto fail = [&](const char* kind) -> EArgumentError {
    return EArgumentError(what + ": " + Shown(v, fs) + " ist kein g\xC3\xBCltig" + kind);
  };
  switch (type) {
    case ArgType::Text:
      if (v.IsText()) return v;
      return Value(v.ToText(fs));
    case ArgType::Integer: {
      double d = 0;
      if (v.IsInteger()) {
        d = static_cast<double>(v.Integer());
      } else if (v.IsFloat() && std::isfinite(v.Float())) {
        d = std::nearbyint(v.Float());
      } else if (v.IsText()) {
        const std::string t = Trim(v.Text());
        int64_t n = 0;
        if (ParseInteger(t, n)) d = static_cast<double>(n);
        else if (ParseFloat(t, fs, d)) d = std::nearbyint(d);
        else throw fail("er Integerwert");
      } else {
        throw fail("er Integerwert");
      }
      if (d < -2147483648.0 || d > 2147483647.0)
        throw EArgumentError(what + ": " + Shown(v, fs) + " liegt au\xC3\x9F" "erhalb des Integer-Bereichs");
      return Value(static_cast<int64_t>(d));
    }
    case ArgType::Float: {
      if (v.IsFloat()) return v;
      if (v.IsInteger()) return Value(static_cast<double>(v.Integer()));
      double d = 0;
      if (v.IsText() && ParseFloat(Trim(v.Text()), fs, d)) return Value(d);
      throw fail("er Gleitkommawert");
    }
    case ArgType::Boolean: {
      if (v.IsBool()) return v;
      if (v.IsNumber()) return Value(v.ToNumber() != 0);
      if (v.IsText()) {
        const std::string t = UpperAscii(Trim(v.Text()));
        if (t == "TRUE") return Value(true);
        if (t == "FALSE") return Value(false);
        double d = 0;
        if (ParseFloat(t, fs, d)) return Value(d != 0);
      }
      throw fail("er Boolescher Wert");
    }
    case ArgType::Date: {
      DateTime d;
      if (v.IsDateTime()) {
        d = v.AsDateTimeValue();
        if (d.HasValidDate()) return v;
      } else if (v.IsText()) {
        const std::string t = Trim(v.Text());
        if (ParseIsoDate(t, d)) return Value(d);
        const DateTime today = DateTime::Now();
        if (db::detail::TryParseDateTimeText(t, fs, today, d) && d.HasValidDate()) return Value(d);
      }
      throw fail("es Datum");
    }
  }
  throw fail("er Wert");
}

void RegisterTarvoFunktionen(TDruckEngineFastReportForm& form) {
  TDruckEngineFastReportForm* f = &form;
  const FormatSettings& fs = form.fs();
  const std::string CR = kCR;
  auto text = [](std::string s) { return Value(std::move(s)); };
  std::vector<FunctionDef> defs;

  defs.push_back({"KW", "Function KW(Datum: TDate): String", "Ermittelt die Kalenderwoche aus dem gegebenen Datum",
                  {{"Datum", ArgType::Date}},
                  [](const std::vector<Value>& a) { return Value(std::to_string(KW(a[0].AsDateTimeValue()))); }});
  defs.push_back({"Pruefziffer", "Function Pruefziffer(text: String): String", "ermittelt UBS-Pr\xC3\xBC" "fziffer",
                  {{"text", ArgType::Text}},
                  [text](const std::vector<Value>& a) { return text(Pruefziffer(ToStr(a[0]))); }});
  defs.push_back({"TextFormat", "Function TextFormat(text: String): String",
                  "Wandelt Richtext (Text mit Schriftformatierung) in reinen Text um",
                  {{"text", ArgType::Text}},
                  [text](const std::vector<Value>& a) { return text(TextFormat(ToStr(a[0]))); }});
  defs.push_back({"ParamByName", "Function ParamByName(Parametername: String): String",
                  "Wenn Parametername leer '' dann Auflistung aller Parameter" + CR +
                      "Gibt den Wert des Parameters zur\xC3\xBC" "ck",
                  {{"Parametername", ArgType::Text}},
                  [f](const std::vector<Value>& a) {
                    return Value(ParamByName(f->FExternalParamas, ToStr(a[0]), f->fs()));
                  }});
  defs.push_back({"PostAnschrift", "Function PostAnschrift(Queryname: String): String",
                  "(Queryname=Tabelle mit Adressfeldern) Um den Namen des Ansprechpartners einzuf\xC3\xBC" "gen, "
                  "m\xC3\xBCssen Felder wie z.B. ANAME1, ANAME2 usw. vorhanden sein" +
                      CR + "Erzeugt eine Anschrit nach DIN 5008",
                  {{"Queryname", ArgType::Text}},
                  [f](const std::vector<Value>& a) -> Value {
                    ReportEngine* engine = ReportEngine::Active();
                    Cursor* c = engine ? engine->DataSet(ToStr(a[0])) : nullptr;
                    if (!c) return Value(std::string());
                    const FormatSettings& settings = f->fs();
                    return Value(PostAnschrift([c, &settings](const std::string& name) {
                      const std::string upper = UpperAscii(name);
                      if (c->ColumnIndex(upper) < 0) return std::string();
                      return Trim(c->Field(upper).ToText(settings));
                    }));
                  }});
  defs.push_back({"ZahlInWort", "Function ZahlInWort(zahl:Integer): String",
                  "ZahlInWort(zahl:Integer): String" + CR + "Gibt eine Zahl in Worten aus",
                  {{"zahl", ArgType::Integer}},
                  [text](const std::vector<Value>& a) { return text(ZahlInWort(ToInt(a[0]))); }});
  defs.push_back({"SekundenInStunden", "Function SekundenInStunden(Sec:Integer;showSec:boolean=true): String",
                  "SekundenInStunden(Sec:Integer;showSec:boolean): String" + CR +
                      "Gibt Sekunden im Format Std., Min., Sek. aus. (01 Std:15 Min:10 Sek)" + CR +
                      "(showSec gibt an, ob auch Sekunden angezeigt werden sollen)",
                  {{"Sec", ArgType::Integer}, {"showSec", ArgType::Boolean, true, Value(true)}},
                  [text](const std::vector<Value>& a) { return text(SekundenInStunden(ToInt(a[0]), a[1].Bool())); }});
  defs.push_back({"Zeigebelegt",
                  "Function Zeigebelegt(ZielImage:string;Definition:string;BelegtPlatzQuery:String;"
                  "ZeigePlatzNr:String='1'): String",
                  "ZielImage=Name Bildcomponente, Definition=Feld aus T_GERAET, BelegtPlatzQuery=Name der Query mit "
                  "den Feldern PLATZNUMMER. Wenn das Feld BESCHRIFTUNG vorhanden ist, wird es angezeigt. "
                  "ZEIGEPLATZNR 0=SitzplatzNr unterdr\xC3\xBC" "cken, 1=Nr anzeigen." +
                      CR + "Markiert alle belegten Pl\xC3\xA4tze auf einem Sitzplatzspiegel" + CR +
                      "(WICHTIG:Funktion muss im selben Band des Bildes sein + [nach vorne setzen] )",
                  {{"ZielImage", ArgType::Text},
                   {"Definition", ArgType::Text},
                   {"BelegtPlatzQuery", ArgType::Text},
                   {"ZeigePlatzNr", ArgType::Text, true, Value("1")}},
                  [f](const std::vector<Value>& a) {
                    return Value(Zeigebelegt(ReportEngine::Active(), ToStr(a[0]), ToStr(a[1]), ToStr(a[2]),
                                             ToStr(a[3]), f->fs()));
                  }});
  defs.push_back({"ZusatzFeld", "Function ZusatzFeld(Content:String;Wert:String): String",
                  "ZusatzFeld(Content:String;Wert:String): String" + CR +
                      "Liest einen Wert aus den benutzerdefinierten Feldern (Content)" + CR +
                      "(Wert: LABELS ALLE Labels,FIELDS alle Feldinhalte, LINES Anzahl Felder)",
                  {{"Content", ArgType::Text}, {"Wert", ArgType::Text}},
                  [text](const std::vector<Value>& a) { return text(ZusatzFeld(ToStr(a[0]), ToStr(a[1]))); }});
  defs.push_back({"Replacetext", "Function Replacetext(S:String;Von:String;Nach:String): String",
                  "Replacetext(S:String;Von:String;Nach:String): String" + CR +
                      "Ersetzt einen Text (Von) innerhalb einer Zeichenkette (S) durch einen anderen Text (Nach)" + CR +
                      "Gross / Kleinschreibung bei [Von] ist hierbei gleichg\xC3\xBCltig)",
                  {{"S", ArgType::Text}, {"Von", ArgType::Text}, {"Nach", ArgType::Text}},
                  [text](const std::vector<Value>& a) {
                    return text(Replacetext(ToStr(a[0]), ToStr(a[1]), ToStr(a[2])));
                  }});
  defs.push_back({"EU", "Function EU: String", "EU:String" + CR + "Gibt das W\xC3\xA4hrungssymbol aus",
                  {},
                  [f](const std::vector<Value>&) { return Value(EU(f->fs())); }});
  defs.push_back({"Aufrunden", "Function Aufrunden(zahl:Extended;genauigkeit:Integer):Extended",
                  "Aufrunden(zahl:Extended;genauigkeit:Integer):Extended" + CR + "Aufrunden auf n\xC3\xA4" "chste Zahl" +
                      CR + "(Genauigkeit :0=Einer ,1=Zehner, 2=Hunderter... -1=Zehntel, -2=Hundertstel...)",
                  {{"zahl", ArgType::Float}, {"genauigkeit", ArgType::Integer}},
                  [](const std::vector<Value>& a) {
                    return Value(Aufrunden(a[0].Float(), static_cast<int>(ToInt(a[1]))));
                  }});
  defs.push_back({"Abrunden", "Function Abrunden(zahl:Extended;genauigkeit:Integer):Extended",
                  "Abrunden(zahl:Extended;genauigkeit:Integer):Extended" + CR + "Abfrunden zur n\xC3\xA4" "chste Zahl" +
                      CR + "(Genauigkeit :0=Einer ,1=Zehner, 2=Hunderter... -1=Zehntel, -2=Hundertstel...)",
                  {{"zahl", ArgType::Float}, {"genauigkeit", ArgType::Integer}},
                  [](const std::vector<Value>& a) {
                    return Value(Abrunden(a[0].Float(), static_cast<int>(ToInt(a[1]))));
                  }});

  for (auto& d : defs) form.Functions().Add(Wrap(std::move(d), fs));
}

std::string TarvoFunktionenListing(const FunctionRegistry& registry) {
  std::string out;
  for (const auto& f : registry.Functions()) {
    out += f.declaration + "\n";
    out += "    Kategorie: " + f.category + "\n";
    for (const std::string& line : SplitLines(f.description)) out += "    " + line + "\n";
    out += "\n";
  }
  return out;
}

}  // namespace tarvo::report
