// The script functions of the category "TARVO-Funktionen": date, number and
// text helpers for German business documents (calendar week, check digit,
// number words, durations, rounding, currency symbol), the job's external
// parameters, a postal address block, free-form extra fields and the
// marking of occupied seats on a seat map (Zeigebelegt.h).
//
// The plain functions below hold the rules and are what the tests and the
// benchmarks call. RegisterTarvoFunktionen puts all thirteen into an engine
// form's function registry, in their fixed order, each with its script
// declaration and its description; the registry dispatches by upper-case
// name and every argument is converted to its declared type first (a value
// that cannot be converted raises EArgumentError, which fails the report).
// Texts are UTF-8. Single-threaded, like the engine form.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/FormatSettings.h"
#include "report/engine/Script.h"
#include "report/engine/Value.h"

namespace tarvo::report {

class TDruckEngineFastReportForm;
struct ExternalParam;

inline constexpr const char* kTarvoKategorie = "TARVO-Funktionen";

// A wrong number of arguments or an argument that does not convert to its
// declared type; what() names the function and the argument.
class EArgumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// genauigkeit of Aufrunden/Abrunden outside -20..20.
class ERangeError : public std::range_error {
 public:
  using std::range_error::range_error;
};

// ISO 8601 week number (weeks begin on Monday; week 1 holds the year's
// first Thursday), 1..53.
int KW(const DateTime& datum);

// Check digit of the modulo-10-recursive scheme of Swiss payment reference
// numbers, as one character; "ungültige Zahl" for an empty text or one with
// anything but the digits 0-9.
std::string Pruefziffer(const std::string& text);

// The plain text of an RTF document: one line per paragraph, every line
// ended by CR LF (the last one too), tabs as four blanks. Text that is not
// RTF comes back with its line breaks made CR LF; empty text stays empty.
std::string TextFormat(const std::string& text);

// The value of the first parameter named `name` (letter case ignored) as
// text; "USERNAME" and "LOGINNAME" give the signed-in names; an empty name
// lists every parameter as NAME=VALUE CR, then USERNAME= and LOGINNAME=
// lines. `params` may be null (no parameters).
std::string ParamByName(const std::vector<ExternalParam>* params, const std::string& name,
                        const FormatSettings& fs);

// F(name): the trimmed text of the current record's field `name`, empty
// when the data set has no such field.
using FieldText = std::function<std::string(const std::string& name)>;
// The address block (German DIN 5008 order) from the fields Anrede, Titel,
// NAME1, NAME2, Namenszusatz, the contact person AAnrede, ATitel, AName1,
// AName2, ANamenszusatz (or else Name3), Strasse + Strasse2, PLZ Ort and
// Land; lines end with CR, the whole block is trimmed.
std::string PostAnschrift(const FieldText& field);

// German number words in one word, first letter upper case ("null" for 0).
// Negative numbers: "minus " followed by the words of the amount.
std::string ZahlInWort(int64_t zahl);

// "hh Std :mm Min :ss Sek" (hours only when there are any; seconds only
// with showSec, otherwise the text ends in "Min ").
std::string SekundenInStunden(int64_t sec, bool showSec);

// Reads user-defined extra fields stored as NAME=VALUE lines (double quotes
// are decoration, "~" is a line break inside a value). Wert empty: all
// lines as "NAME:   VALUE"; "LINES": their number; "LABELS": the names;
// "FIELDS": the values; anything else: the value of that name.
std::string ZusatzFeld(const std::string& content, const std::string& wert);

// S with every occurrence of Von (letter case ignored) replaced by Nach.
std::string Replacetext(const std::string& s, const std::string& von, const std::string& nach);

// The currency symbol of the captured locale settings.
std::string EU(const FormatSettings& fs);

// Rounds up / down to a multiple of 10^genauigkeit (0 ones, 1 tens,
// -1 tenths, ...). Raises ERangeError outside -20..20. A scaled value that
// is an integer but for the binary representation of a decimal input (1.1
// is stored as 1.100000000000000088...) counts as that integer, so
// Aufrunden(1.1, -1) is 1.1 and Abrunden(1.2, -1) is 1.2.
double Aufrunden(double zahl, int genauigkeit);
double Abrunden(double zahl, int genauigkeit);

// Declared argument types of the functions.
enum class ArgType { Text, Integer, Boolean, Float, Date };

// Converts a script value to a declared type: Text gives a Value holding a
// string (null becomes empty text), Integer an int64 in the 32-bit range,
// Boolean a bool, Float a double, Date a DateTime. Raises EArgumentError
// whose text starts with `what` (e.g. "KW, Argument Datum").
Value ConvertArgument(const Value& v, ArgType type, const FormatSettings& fs, const std::string& what);

// Registers the thirteen functions into form.Functions(); their calls read
// the form's format settings and external parameters at call time and the
// preparation running at that moment (ReportEngine::Active()).
void RegisterTarvoFunktionen(TDruckEngineFastReportForm& form);

// The function listing for template designers: per function its
// declaration, then its description (CR as line break), then a blank line.
std::string TarvoFunktionenListing(const FunctionRegistry& registry);

}  // namespace tarvo::report
