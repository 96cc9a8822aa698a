// The engine's share of a 1,000-position report: template reading, Lua,
// layout and PDF, against drawing the same lines with QPainter directly.
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>

#include "report/engine/Layout.h"
#include "report/engine/PdfExport.h"
#include "report/engine/TextMeasure.h"

namespace tarvo::report {
namespace {

constexpr int kRows = 1000;

class Rows : public IDataProvider {
 public:
  Table Query(const std::string&, const std::vector<BoundParam>&) override {
    Table t;
    t.columns = {"POS", "LEISTUNG", "BETRAG"};
    for (int i = 1; i <= kRows; ++i)
      t.rows.push_back({Value(i), Value("Leistung Nummer " + std::to_string(i)), Value(i * 10.5)});
    return t;
  }
};

const char* const kTemplate = R"X(<report name="bench"><dataset name="P" sql="x"/>
  <page margin="15">
    <band type="pageheader" height="10"><text width="180" height="8" size="14">Positionen</text></band>
    <band type="masterdata" dataset="P" height="5.5">
      <text width="12" height="5.5" size="8">[P.POS]</text>
      <text left="12" width="120" height="5.5" size="8" stretch="band" frame="bottom">[P.LEISTUNG]</text>
      <text left="140" width="40" height="5.5" size="8" align="right" format="currency:2">[P.BETRAG]</text>
    </band>
    <band type="summary" height="8"><text width="180" height="6" format="currency:2">[SUM("P", "BETRAG")]</text></band>
    <band type="pagefooter" height="8"><text width="180" height="6" align="right">Seite [PAGE] von [TOTALPAGES]</text></band>
  </page></report>)X";

void BM_Engine_PrepareAndPdf(benchmark::State& state) {
  EnsureGuiApplication();
  Rows rows;
  FormatSettings fs = FormatSettings::German();
  size_t bytes = 0;
  for (auto _ : state) {
    ReportDef def = ReadTemplate(kTemplate, nullptr);
    ReportEngine engine(def, rows, fs, nullptr);
    engine.Prepare();
    bytes = PdfExporter::Render(engine.Prepared(), {"bench", "a", "s", "c"}).size();
  }
  state.counters["pdf_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Engine_PrepareAndPdf)->Unit(benchmark::kMillisecond);

void BM_Engine_PrepareOnly(benchmark::State& state) {
  EnsureGuiApplication();
  Rows rows;
  FormatSettings fs = FormatSettings::German();
  for (auto _ : state) {
    ReportDef def = ReadTemplate(kTemplate, nullptr);
    ReportEngine engine(def, rows, fs, nullptr);
    engine.Prepare();
    benchmark::DoNotOptimize(engine.Prepared().pages.size());
  }
}
BENCHMARK(BM_Engine_PrepareOnly)->Unit(benchmark::kMillisecond);

// Baseline: the same 3,000 texts and 1,000 lines drawn straight onto a PDF.
void BM_Raw_QPainterPdf(benchmark::State& state) {
  EnsureGuiApplication();
  for (auto _ : state) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(720);
    QPainter p(&writer);
    QFont f("DejaVu Sans");
    f.setPointSizeF(8);
    p.setFont(f);
    const double mm = 720 / 25.4;
    double y = 25;
    for (int i = 1; i <= kRows; ++i) {
      if (y > 270) {
        writer.newPage();
        y = 25;
      }
      p.drawText(QPointF(15 * mm, y * mm), QString::number(i));
      p.drawText(QPointF(27 * mm, y * mm), QString("Leistung Nummer %1").arg(i));
      p.drawText(QPointF(170 * mm, y * mm), QString("%1 €").arg(i * 10.5, 0, 'f', 2));
      p.drawLine(QPointF(27 * mm, (y + 1) * mm), QPointF(147 * mm, (y + 1) * mm));
      y += 5.5;
    }
    p.end();
    benchmark::DoNotOptimize(buffer.data().size());
  }
}
BENCHMARK(BM_Raw_QPainterPdf)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo::report

BENCHMARK_MAIN();
