// The script functions called from a template: each benchmark prepares a
// small report whose script calls one function 1,000 times, so that the
// figure "call" is the cost of one call from a template, conversion of
// its arguments and dispatch by name included. Baselines in the same run:
// the same loop without a call (Lua alone), and a call of the engine's own
// IIF through the same dispatch.
//
// Zeigebelegt: one band with a 1000 x 700 JPEG seat map and 100 occupied
// seats; baseline the same report without the call.
//
//   build/bench/bench_report --benchmark_min_time=0.2
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>

#include "report/DruckEngineFastReport.h"
#include "report/TarvoFunktionen.h"
#include "report/Zeigebelegt.h"
#include "report/engine/Layout.h"
#include "report/engine/TextMeasure.h"

namespace {

using namespace tarvo;
using namespace tarvo::report;

constexpr int kCalls = 1000;

class Memory : public IDataProvider {
 public:
  std::map<std::string, Table> tables;
  Table Query(const std::string& sql, const std::vector<BoundParam>&) override { return tables.at(sql); }
};

Memory& Data() {
  static Memory m = [] {
    Memory d;
    Table a;
    a.columns = {"ANREDE", "NAME1", "NAME2", "ANAME1", "AANREDE", "STRASSE", "PLZ", "ORT", "LAND", "DATUM", "NR"};
    a.rows.push_back({Value("Firma"), Value("Reisen"), Value("GmbH"), Value("Eva Berg"), Value("Frau"),
                      Value("Hafenstraße 12"), Value(int64_t{20457}), Value("Hamburg"), Value("Deutschland"),
                      Value(DateTime{2027, 5, 14}), Value(int64_t{2147483647})});
    d.tables["a"] = a;
    return d;
  }();
  return m;
}

TDruckEngineFastReportForm& Form() {
  static ExternalParams params = {{"_NR", Value("200140")}, {"NR", Value("200140")}, {"DATUM", Value("x")}};
  static TDruckEngineFastReportForm* form = [] {
    EnsureGuiApplication();
    auto* f = new TDruckEngineFastReportForm();
    f->SetExternalParams(&params);
    return f;
  }();
  return *form;
}

void Call(benchmark::State& state, const std::string& expression) {
  ReportDef def = ReadTemplate(R"(<report name="B"><dataset name="A" sql="a"/>
    <script>for i = 1, )" + std::to_string(kCalls) + " do local r = " + expression + R"( end</script>
    <page><band type="title" height="5"/></page></report>)",
                               nullptr);
  ReportEngine engine(def, Data(), Form().fs(), &Form().Functions());
  for (auto _ : state) benchmark::DoNotOptimize(engine.Prepare());
  state.counters["call"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kCalls, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

#define CALL(name, expr) BENCHMARK_CAPTURE(Call, name, expr)->Unit(benchmark::kMicrosecond)
CALL(baseline_lua_loop, "i");
CALL(baseline_engine_IIF, "IIF(true, i, 0)");
CALL(KW, "KW(A.DATUM)");
CALL(Pruefziffer, "Pruefziffer('21000000000313947143000901')");
CALL(TextFormat, "TextFormat('{\\\\rtf1\\\\ansi{\\\\fonttbl{\\\\f0 Arial;}}\\\\f0 Erste Zeile\\\\par Zweite\\\\tab Zeile\\\\par}')");
CALL(ParamByName, "ParamByName('nr')");
CALL(ParamByName_listing, "ParamByName('')");
CALL(PostAnschrift, "PostAnschrift('A')");
CALL(ZahlInWort, "ZahlInWort(A.NR)");
CALL(SekundenInStunden, "SekundenInStunden(4510, false)");
CALL(Zeigebelegt_outside_band, "Zeigebelegt('Fehlt', 'x', 'A')");
CALL(ZusatzFeld, "ZusatzFeld('\"FARBE\"=\"rot\"\\r\\n\"GROESSE\"=\"L~XL\"', 'groesse')");
CALL(Replacetext, "Replacetext('Hallo Welt, hallo WELT', 'welt', 'Erde')");
CALL(EU, "EU()");
CALL(Aufrunden, "Aufrunden(1.21, -1)");
CALL(Abrunden, "Abrunden(-1.21, -1)");

std::string SeatMapJpeg() {
  QImage img(1000, 700, QImage::Format_RGB32);
  img.fill(QColor(230, 230, 230));
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPEG", 90);
  return bytes.toStdString();
}

void SeatMap(benchmark::State& state, bool mark) {
  Form();
  Memory data;
  Table g;
  g.columns = {"BILD", "DEFINITION"};
  std::string def = "[Sitzplan]\r\n";
  Table b;
  b.columns = {"PLATZNUMMER"};
  for (int i = 1; i <= 120; ++i) {
    def += "\"TXT=" + std::to_string(i) + "\"^X=" + std::to_string(40 + (i - 1) % 12 * 80) +
           "^Y=" + std::to_string(40 + (i - 1) / 12 * 65) + "\r\n";
    if (i <= 100) b.rows.push_back({Value(std::to_string(i))});
  }
  g.rows.push_back({Value(Bytes{SeatMapJpeg()}), Value(def)});
  data.tables["g"] = g;
  data.tables["b"] = b;
  ReportDef rd = ReadTemplate(std::string(R"(<report name="S"><dataset name="G" sql="g"/><dataset name="B" sql="b"/>
    <page><band type="masterdata" dataset="G" height="150">
      <picture name="Plan" width="190" height="133" source="G.BILD"/>
      <text name="M" top="140" width="100" height="6">)") +
                                  (mark ? "[Zeigebelegt('Plan', G.DEFINITION, 'B')]" : "") +
                                  "</text></band></page></report>",
                              nullptr);
  ReportEngine engine(rd, data, Form().fs(), &Form().Functions());
  for (auto _ : state) benchmark::DoNotOptimize(engine.Prepare());
}
BENCHMARK_CAPTURE(SeatMap, baseline_without_call, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SeatMap, Zeigebelegt_100_seats_1000x700, true)->Unit(benchmark::kMillisecond);

}  // namespace
