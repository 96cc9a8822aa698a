#include "report/TarvoFunktionen.h"

#include <gtest/gtest.h>

#include <map>

#include "report/DruckEngineFastReport.h"
#include "report/engine/Layout.h"
#include "report/engine/TextMeasure.h"

namespace tarvo::report {
namespace {

const std::string kInvalid = "ung\xC3\xBCltige Zahl";

TEST(TarvoFunktionen, KalenderwocheNachIso) {
  struct Case {
    DateTime d;
    int week;
  } cases[] = {
      {{2021, 1, 1}, 53},   // a Friday: still the last week of 2020
      {{2021, 1, 4}, 1},    // the first Monday
      {{2021, 1, 3}, 53},   // the Sunday before
      {{2024, 12, 30}, 1},  // Monday of the first week of 2025
      {{2026, 12, 31}, 53}, // 2026 begins on a Thursday and has 53 weeks
      {{2022, 1, 2}, 52},
      {{2024, 2, 29}, 9},
      {{2023, 6, 15, 23, 59, 59}, 24},  // the time of day plays no part
  };
  for (const auto& c : cases)
    EXPECT_EQ(KW(c.d), c.week) << c.d.year << "-" << c.d.month << "-" << c.d.day;
}

TEST(TarvoFunktionen, PruefzifferModulo10Rekursiv) {
  const std::pair<std::string, std::string> cases[] = {
      {"0", "0"},
      {"1", "1"},
      {"21000000000313947143000901", "7"},  // the sample payment reference
      {"31", "9"},
      {"", kInvalid},
      {"12 3", kInvalid},
      {"12a", kInvalid},
      {"-1", kInvalid},
      {"\xC3\xA4", kInvalid},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Pruefziffer(in), out) << "'" << in << "'";
}

TEST(TarvoFunktionen, ZahlInWort) {
  const std::pair<int64_t, std::string> cases[] = {
      {0, "null"},
      {1, "Eins"},
      {11, "Elf"},
      {12, "Zw\xC3\xB6lf"},
      {16, "Sechzehn"},
      {17, "Siebzehn"},
      {21, "Einundzwanzig"},
      {30, "Drei\xC3\x9Fig"},
      {60, "Sechzig"},
      {70, "Siebzig"},
      {99, "Neunundneunzig"},
      {100, "Einhundert"},
      {101, "Einhunderteins"},
      {1000, "Eintausend"},
      {2000, "Zweitausend"},
      {101000, "Einhunderteintausend"},
      {1000000, "Einemillion"},
      {1000001, "Einemillioneins"},
      {1001000, "Einemillioneintausend"},
      {2500000, "Zweimillionenf\xC3\xBCnfhunderttausend"},
      {1000000000, "Einemilliarde"},
      {2147483647,
       "Zweimilliardeneinhundertsiebenundvierzigmillionenvierhundertdreiundachtzigtausendsechshundertsiebenundvierzig"},
      {-5, "minus F\xC3\xBCnf"},
  };
  for (const auto& [n, words] : cases) EXPECT_EQ(ZahlInWort(n), words) << n;
}

TEST(TarvoFunktionen, SekundenInStunden) {
  struct Case {
    int64_t sec;
    bool showSec;
    std::string text;
  } cases[] = {
      {3600, true, "01 Std :00 Min :00 Sek"},
      {360000, false, "100 Std :00 Min "},
      {4510, true, "01 Std :15 Min :10 Sek"},
      {4510, false, "01 Std :15 Min "},
      {59, true, "00 Min :59 Sek"},
      {0, true, "00 Min :00 Sek"},
  };
  for (const auto& c : cases) EXPECT_EQ(SekundenInStunden(c.sec, c.showSec), c.text) << c.sec;
}

TEST(TarvoFunktionen, AufUndAbrundenInDerVerlangtenRichtung) {
  struct Case {
    double zahl;
    int genauigkeit;
    double auf, ab;
  } cases[] = {
      {1.21, -1, 1.3, 1.2},
      {1.29, -1, 1.3, 1.2},
      {-1.21, -1, -1.2, -1.3},
      {1201, 2, 1300, 1200},
      {1.1, -1, 1.1, 1.1},  // exact tenths stay what they are
      {1.2, -1, 1.2, 1.2},
      {2.675, -2, 2.68, 2.67},
      {7, 0, 7, 7},
      {7.5, 0, 8, 7},
      {-7.5, 0, -7, -8},
      {15, 1, 20, 10},
      {0, 3, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(Aufrunden(c.zahl, c.genauigkeit), c.auf) << c.zahl << " " << c.genauigkeit;
    EXPECT_DOUBLE_EQ(Abrunden(c.zahl, c.genauigkeit), c.ab) << c.zahl << " " << c.genauigkeit;
  }
  EXPECT_DOUBLE_EQ(Aufrunden(1, 20), 1e20);
  EXPECT_DOUBLE_EQ(Abrunden(0.5, -20), 0.5);
  for (int g : {21, -21, 1000}) {
    EXPECT_THROW(Aufrunden(1, g), ERangeError) << g;
    EXPECT_THROW(Abrunden(1, g), ERangeError) << g;
  }
}

TEST(TarvoFunktionen, ZusatzFeld) {
  const std::string content = "  \"FARBE\"=\"rot\"\r\n\"Gr\xC3\xB6\xC3\x9F" "e\"=\"L~XL\"\r\nOHNEWERT\n";
  const std::pair<std::string, std::string> cases[] = {
      {"LINES", "3"},
      {"lines", "3"},
      {"LABELS", "FARBE\rGr\xC3\xB6\xC3\x9F" "e"},  // the name-less line gives an empty label, then trimmed
      {"FIELDS", "rot\rL\r\nXL"},
      {"gr\xC3\x96\xC3\x9F" "E", "L\r\nXL"},
      {"farbe", "rot"},
      {"fehlt", ""},
      {"OHNEWERT", ""},
      {"", "FARBE:   rot\r\nGr\xC3\xB6\xC3\x9F" "e:   L\r\nXL\r\nOHNEWERT"},
  };
  for (const auto& [wert, out] : cases) EXPECT_EQ(ZusatzFeld(content, wert), out) << wert;
  EXPECT_EQ(ZusatzFeld("a=1\r\nb=2", "LINES"), "2");
  EXPECT_EQ(ZusatzFeld(" \r\n ", ""), "");
}

TEST(TarvoFunktionen, ReplacetextOhneRuecksichtAufGrossUndKleinschreibung) {
  EXPECT_EQ(Replacetext("Welt, WELT und welt", "welt", "Erde"), "Erde, Erde und Erde");
  EXPECT_EQ(Replacetext("\xC3\x84rger und \xC3\xA4rger", "\xC3\xA4RGER", "Freude"), "Freude und Freude");
  EXPECT_EQ(Replacetext("abc", "", "x"), "abc");
  EXPECT_EQ(Replacetext("aaa", "a", "aa"), "aaaaaa");
}

TEST(TarvoFunktionen, TextFormatEineZeileJeAbsatz) {
  EXPECT_EQ(TextFormat("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Eins\\par A\\tab B\\par}"), "Eins\r\nA    B\r\n");
  EXPECT_EQ(TextFormat("{\\rtf1 Gr\\'fc\\'dfe}"), "Gr\xC3\xBC\xC3\x9F" "e\r\n");
  EXPECT_EQ(TextFormat("kein RTF\nzweite"), "kein RTF\r\nzweite\r\n");
  EXPECT_EQ(TextFormat(""), "");
}

TEST(TarvoFunktionen, ParamByName) {
  const FormatSettings fs = FormatSettings::German();
  const ExternalParams params = {{"_NR", Value("200140")},
                                 {"Datum", Value(DateTime{2024, 2, 29, 10, 15, 0})},
                                 {"_nr", Value("zweiter")}};
  EXPECT_EQ(ParamByName(&params, "_nr", fs), "200140");
  EXPECT_EQ(ParamByName(&params, "DATUM", fs), "29.02.2024 10:15:00");
  EXPECT_EQ(ParamByName(&params, "FEHLT", fs), "");
  EXPECT_EQ(ParamByName(&params, "username", fs), "");
  EXPECT_EQ(ParamByName(&params, "", fs),
            "_NR=200140\rDatum=29.02.2024 10:15:00\r_nr=zweiter\rUSERNAME=\rLOGINNAME=\r");
  EXPECT_EQ(ParamByName(nullptr, "", fs), "USERNAME=\rLOGINNAME=\r");
}

TEST(TarvoFunktionen, PostAnschriftNachDin5008) {
  using Fields = std::map<std::string, std::string>;
  auto run = [](const Fields& f) {
    return PostAnschrift([&f](const std::string& name) {
      auto it = f.find(name);
      return it == f.end() ? std::string() : it->second;
    });
  };
  const Fields firma = {{"Anrede", "Firma"},     {"NAME1", "Reisen"}, {"NAME2", "GmbH"}, {"Name3", "Abteilung 3"},
                        {"AAnrede", "Frau"},     {"ATitel", "Dr."},   {"AName1", "Eva"}, {"AName2", "Berg"},
                        {"Strasse", "Hauptstr. 1"}, {"Strasse2", "a"}, {"PLZ", "12345"}, {"Ort", "Berlin"},
                        {"Land", "Deutschland"}};
  EXPECT_EQ(run(firma), "Firma\rReisen GmbH\rFrau Dr. Eva Berg\rHauptstr. 1a\r12345 Berlin\rDeutschland");

  Fields ohneAnsprechpartner = firma;
  ohneAnsprechpartner.erase("AName1");
  ohneAnsprechpartner.erase("AName2");
  EXPECT_EQ(run(ohneAnsprechpartner), "Firma\rReisen GmbH\rAbteilung 3\rHauptstr. 1a\r12345 Berlin\rDeutschland");

  const Fields privat = {{"Titel", "Prof."}, {"NAME1", "Max"}, {"NAME2", "Muster"}, {"Namenszusatz", "jun."},
                         {"Ort", "Wien"}};
  EXPECT_EQ(run(privat), "Prof. Max Muster jun.\r\rWien");  // empty lines inside stay
  EXPECT_EQ(run({}), "");
}

TEST(TarvoFunktionen, ArgumenteWerdenInDenErklaertenTypUmgewandelt) {
  const FormatSettings fs = FormatSettings::German();
  EXPECT_EQ(ConvertArgument(Value(int64_t{5}), ArgType::Text, fs, "f"), Value("5"));
  EXPECT_EQ(ConvertArgument(Value(), ArgType::Text, fs, "f"), Value(""));
  EXPECT_EQ(ConvertArgument(Value(" 12 "), ArgType::Integer, fs, "f"), Value(int64_t{12}));
  EXPECT_EQ(ConvertArgument(Value(2.5), ArgType::Integer, fs, "f"), Value(int64_t{2}));  // to even
  EXPECT_EQ(ConvertArgument(Value("3,5"), ArgType::Float, fs, "f"), Value(3.5));
  EXPECT_EQ(ConvertArgument(Value("3.5"), ArgType::Float, fs, "f"), Value(3.5));
  EXPECT_EQ(ConvertArgument(Value("false"), ArgType::Boolean, fs, "f"), Value(false));
  EXPECT_EQ(ConvertArgument(Value(int64_t{0}), ArgType::Boolean, fs, "f"), Value(false));
  EXPECT_EQ(ConvertArgument(Value("04.01.2021"), ArgType::Date, fs, "f"), Value(DateTime{2021, 1, 4}));
  EXPECT_EQ(ConvertArgument(Value("2021-01-04"), ArgType::Date, fs, "f"), Value(DateTime{2021, 1, 4}));

  struct Bad {
    Value v;
    ArgType type;
    std::string message;
  } bad[] = {
      {Value("zw\xC3\xB6lf"), ArgType::Integer, "f: 'zw\xC3\xB6lf' ist kein g\xC3\xBCltiger Integerwert"},
      {Value(), ArgType::Integer, "f: Null ist kein g\xC3\xBCltiger Integerwert"},
      {Value(true), ArgType::Integer, "f: 'True' ist kein g\xC3\xBCltiger Integerwert"},
      {Value(int64_t{3000000000}), ArgType::Integer, "f: '3000000000' liegt au\xC3\x9F" "erhalb des Integer-Bereichs"},
      {Value("1.2.3"), ArgType::Float, "f: '1.2.3' ist kein g\xC3\xBCltiger Gleitkommawert"},
      {Value("nan"), ArgType::Float, "f: 'nan' ist kein g\xC3\xBCltiger Gleitkommawert"},
      {Value("vielleicht"), ArgType::Boolean, "f: 'vielleicht' ist kein g\xC3\xBCltiger Boolescher Wert"},
      {Value("31.02.2021"), ArgType::Date, "f: '31.02.2021' ist kein g\xC3\xBCltiges Datum"},
      {Value(int64_t{44000}), ArgType::Date, "f: '44000' ist kein g\xC3\xBCltiges Datum"},
  };
  for (const auto& b : bad) {
    try {
      ConvertArgument(b.v, b.type, fs, "f");
      ADD_FAILURE() << "no error for " << b.message;
    } catch (const EArgumentError& e) {
      EXPECT_EQ(std::string(e.what()), b.message);
    }
  }
}

// --- registered functions, called from templates -----------------------

class Rows : public IDataProvider {
 public:
  std::map<std::string, Table> tables;
  Table Query(const std::string& sql, const std::vector<BoundParam>&) override {
    auto it = tables.find(sql);
    if (it == tables.end()) throw std::runtime_error("Unbekannte Tabelle " + sql);
    return it->second;
  }
};

class RegisteredFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGuiApplication();
    form.SetExternalParams(&params);
    Table adresse;
    adresse.columns = {"ANREDE", "NAME1", "NAME2", "STRASSE", "PLZ", "ORT"};
    adresse.rows.push_back({Value("Herrn"), Value("Max"), Value("Muster"), Value("Ring 5"), Value(int64_t{10115}),
                            Value("Berlin")});
    data.tables["adresse"] = adresse;
    Table d;
    d.columns = {"DATUM", "NR", "DAUER"};
    d.rows.push_back({Value(DateTime{2021, 1, 4}), Value(int64_t{1000001}), Value(int64_t{4510})});
    data.tables["d"] = d;
  }

  // Prepares a one-page report whose single band holds `text`, returns
  // the text runs of the first page joined by "|".
  std::string Render(const std::string& text) {
    form.FastReport() = ReadTemplate(R"(<report name="T">
      <dataset name="Adresse" sql="adresse"/><dataset name="D" sql="d"/>
      <page><band type="masterdata" dataset="D" height="80">
        <text name="Ausgabe" width="190" height="80"><![CDATA[)" + text + R"(]]></text>
      </band></page></report>)",
                                     nullptr);
    ReportEngine engine(form.FastReport(), data, form.fs(), &form.Functions());
    engine.Prepare();
    std::string out;
    for (const auto& item : engine.Prepared().pages.at(0).items)
      if (item.kind == PreparedItem::Kind::TextRun) out += (out.empty() ? "" : "|") + item.text;
    return out;
  }

  ExternalParams params = {{"_NR", Value("200140")}};
  TDruckEngineFastReportForm form;
  Rows data;
};

TEST_F(RegisteredFunctions, AlleDreizehnInFesterReihenfolgeMitErklaerungUndBeschreibung) {
  const std::pair<const char*, const char*> expected[] = {
      {"KW", "Function KW(Datum: TDate): String"},
      {"Pruefziffer", "Function Pruefziffer(text: String): String"},
      {"TextFormat", "Function TextFormat(text: String): String"},
      {"ParamByName", "Function ParamByName(Parametername: String): String"},
      {"PostAnschrift", "Function PostAnschrift(Queryname: String): String"},
      {"ZahlInWort", "Function ZahlInWort(zahl:Integer): String"},
      {"SekundenInStunden", "Function SekundenInStunden(Sec:Integer;showSec:boolean=true): String"},
      {"Zeigebelegt",
       "Function Zeigebelegt(ZielImage:string;Definition:string;BelegtPlatzQuery:String;ZeigePlatzNr:String='1'): "
       "String"},
      {"ZusatzFeld", "Function ZusatzFeld(Content:String;Wert:String): String"},
      {"Replacetext", "Function Replacetext(S:String;Von:String;Nach:String): String"},
      {"EU", "Function EU: String"},
      {"Aufrunden", "Function Aufrunden(zahl:Extended;genauigkeit:Integer):Extended"},
      {"Abrunden", "Function Abrunden(zahl:Extended;genauigkeit:Integer):Extended"},
  };
  const auto& fns = form.Functions().Functions();
  ASSERT_EQ(fns.size(), std::size(expected));
  for (size_t i = 0; i < fns.size(); ++i) {
    EXPECT_EQ(fns[i].name, expected[i].first);
    EXPECT_EQ(fns[i].declaration, expected[i].second);
    EXPECT_EQ(fns[i].category, "TARVO-Funktionen");
    EXPECT_FALSE(fns[i].description.empty());
  }
  EXPECT_EQ(form.Functions().Find("PARAMBYNAME")->description,
            "Wenn Parametername leer '' dann Auflistung aller Parameter\rGibt den Wert des Parameters zur\xC3\xBC" "ck");
  EXPECT_EQ(form.Functions().Find("abrunden")->description,
            "Abrunden(zahl:Extended;genauigkeit:Integer):Extended\rAbfrunden zur n\xC3\xA4" "chste Zahl\r"
            "(Genauigkeit :0=Einer ,1=Zehner, 2=Hunderter... -1=Zehntel, -2=Hundertstel...)");
  EXPECT_EQ(form.Functions().Find("EU")->description, "EU:String\rGibt das W\xC3\xA4hrungssymbol aus");

  const std::string listing = TarvoFunktionenListing(form.Functions());
  EXPECT_NE(listing.find("Function KW(Datum: TDate): String\n    Kategorie: TARVO-Funktionen\n"
                         "    Ermittelt die Kalenderwoche aus dem gegebenen Datum\n\n"),
            std::string::npos);
  EXPECT_NE(listing.find("    Aufrunden auf n\xC3\xA4" "chste Zahl\n"), std::string::npos);
}

TEST_F(RegisteredFunctions, AufrufeAusVorlagenausdruecken) {
  const std::pair<std::string, std::string> cases[] = {
      {"KW [KW(D.DATUM)]", "KW 1"},
      {"[kw('01.01.2021')]", "53"},
      {"[ZahlInWort(D.NR)]", "Einemillioneins"},
      {"[ZahlInWort('12')]", "Zw\xC3\xB6lf"},
      {"[SekundenInStunden(D.DAUER)]", "01 Std :15 Min :10 Sek"},
      {"[sekundeninstunden(D.DAUER, false)]", "01 Std :15 Min"},
      {"[Aufrunden(1.21, -1)] [Abrunden(-1.21, -1)]", "1,3 -1,3"},
      {"[Aufrunden('1201', 2)]", "1300"},
      {"[ParamByName('_nr')]", "200140"},
      {"[PostAnschrift('adresse')]", "Herrn|Max Muster|Ring 5|10115 Berlin"},
      {"[PostAnschrift('Unbekannt')]x", "x"},
      {"[Pruefziffer('31')][Pruefziffer('1a')]", "9" + kInvalid},
      {"[ZusatzFeld('A=1', 'a')]", "1"},
      {"[Replacetext('Hallo Welt', 'WELT', 'Erde')]", "Hallo Erde"},
      {"[EU()]", "\xE2\x82\xAC"},
      {"[TextFormat('{\\\\rtf1 fett\\\\par}')]", "fett"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Render(text), shown) << text;
}

TEST_F(RegisteredFunctions, FalscheArgumenteLassenDenBerichtMitMeldungScheitern) {
  const std::pair<std::string, std::string> cases[] = {
      {"[KW('kein Datum')]", "KW, Argument Datum: 'kein Datum' ist kein g\xC3\xBCltiges Datum"},
      {"[KW()]", "KW: 1 Argument erwartet, 0 \xC3\xBC" "bergeben"},
      {"[EU(1)]", "EU: keine Argumente erwartet, 1 \xC3\xBC" "bergeben"},
      {"[SekundenInStunden(1, true, 3)]", "SekundenInStunden: 1 bis 2 Argumente erwartet, 3 \xC3\xBC" "bergeben"},
      {"[ZahlInWort('zw\xC3\xB6lf')]", "ZahlInWort, Argument zahl: 'zw\xC3\xB6lf' ist kein g\xC3\xBCltiger Integerwert"},
      {"[SekundenInStunden(5, 'vielleicht')]",
       "SekundenInStunden, Argument showSec: 'vielleicht' ist kein g\xC3\xBCltiger Boolescher Wert"},
      {"[Aufrunden(1.5, 21)]", "Aufrunden: Fehler bei Bereichspr\xC3\xBC" "fung (genauigkeit 21 liegt nicht zwischen -20 und 20)"},
      {"[Abrunden('x', 1)]", "Abrunden, Argument zahl: 'x' ist kein g\xC3\xBCltiger Gleitkommawert"},
  };
  for (const auto& [text, message] : cases) {
    try {
      Render(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const EScriptError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace tarvo::report
