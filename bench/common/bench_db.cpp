// The database layer against raw ISC calls, in the same run, on one kept
// connection to a throwaway database on the local server:
//   OneRow      one-row SELECT, prepared and freed per iteration (what a
//               request does with a fresh TIBRQuery)
//   TenThousand a 10,000-row fetch reading both columns of every row
//   Attach      attach + one-row query + detach over localhost (AttachOnly:
//               attach + detach)
// Both sides read the same values into the same form (an integer and a
// UTF-8 text), so the ratio is the layer's own cost.
#include <benchmark/benchmark.h>
#include <ibase.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/Codepage.h"
#include "common/IBTarvo.h"
#include "common/IBTarvoDetail.h"
#include "common/testing/TestDatabase.h"

namespace {

using tarvo::db::TIBRDATABASE;
using tarvo::db::TIBRQuery;
using tarvo::testing::TestDatabase;

const char kOneRow[] = "SELECT NR, NAME FROM ROWS10K WHERE NR = 5000";
const char kAllRows[] = "SELECT NR, NAME FROM ROWS10K";

TestDatabase& Database() {
  static TestDatabase* db = [] {
    auto* d = new TestDatabase(TestDatabase::Schema::None);
    d->Execute("CREATE TABLE ROWS10K (NR INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40))");
    d->Execute(
        "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 10000) DO BEGIN "
        "INSERT INTO ROWS10K VALUES (:I, 'Müller-Lüdenscheidt ' || :I); I = I + 1; END END");
    return d;
  }();
  return *db;
}

TIBRDATABASE& KeptConnection() {
  static TIBRDATABASE* db = [] {
    auto* d = new TIBRDATABASE;
    d->SetDatabaseName(Database().ConnectionString());
    d->Open();
    return d;
  }();
  return *db;
}

void Check(const ISC_STATUS* status) {
  if (status[0] == 1 && status[1]) throw std::runtime_error(tarvo::db::detail::StatusText(status));
}

// Raw ISC: allocate, prepare, execute, fetch every row, free.
int64_t RawQuery(isc_db_handle* db, isc_tr_handle* tr, const char* sql, std::string& lastName) {
  ISC_STATUS_ARRAY status{};
  isc_stmt_handle stmt = 0;
  isc_dsql_allocate_statement(status, db, &stmt);
  Check(status);
  alignas(XSQLDA) char buffer[XSQLDA_LENGTH(2)] = {};
  XSQLDA* out = reinterpret_cast<XSQLDA*>(buffer);
  out->version = SQLDA_VERSION1;
  out->sqln = 2;
  isc_dsql_prepare(status, tr, &stmt, 0, sql, 1, out);
  Check(status);
  int32_t nr = 0;
  char name[64];
  short nulls[2];
  out->sqlvar[0].sqldata = reinterpret_cast<char*>(&nr);
  out->sqlvar[0].sqlind = &nulls[0];
  out->sqlvar[1].sqldata = name;
  out->sqlvar[1].sqlind = &nulls[1];
  isc_dsql_execute(status, tr, &stmt, 1, nullptr);
  Check(status);
  int64_t sum = 0;
  while (isc_dsql_fetch(status, &stmt, 1, out) == 0) {
    sum += nr;
    uint16_t len;
    std::memcpy(&len, name, 2);
    lastName = tarvo::Cp1252ToUtf8(std::string_view(name + 2, len));
  }
  isc_dsql_free_statement(status, &stmt, DSQL_drop);
  return sum;
}

int64_t LayerQuery(TIBRDATABASE& db, const char* sql, std::string& lastName) {
  TIBRQuery q(db);
  q.SetSQL(sql);
  q.Open();
  int64_t sum = 0;
  for (; !q.Eof(); q.Next()) {
    sum += q.AsInteger(0);
    lastName = q.AsText(1);
  }
  return sum;
}

void BM_OneRow_Raw(benchmark::State& state) {
  TIBRDATABASE& db = KeptConnection();
  auto* tr = static_cast<isc_tr_handle*>(db.NativeTransactionHandle());
  auto* handle = static_cast<isc_db_handle*>(db.NativeHandle());
  std::string name;
  for (auto _ : state) benchmark::DoNotOptimize(RawQuery(handle, tr, kOneRow, name));
}
BENCHMARK(BM_OneRow_Raw);

void BM_OneRow_TIBRQuery(benchmark::State& state) {
  TIBRDATABASE& db = KeptConnection();
  std::string name;
  for (auto _ : state) benchmark::DoNotOptimize(LayerQuery(db, kOneRow, name));
}
BENCHMARK(BM_OneRow_TIBRQuery);

void BM_TenThousand_Raw(benchmark::State& state) {
  TIBRDATABASE& db = KeptConnection();
  auto* tr = static_cast<isc_tr_handle*>(db.NativeTransactionHandle());
  auto* handle = static_cast<isc_db_handle*>(db.NativeHandle());
  std::string name;
  for (auto _ : state) benchmark::DoNotOptimize(RawQuery(handle, tr, kAllRows, name));
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_TenThousand_Raw)->Unit(benchmark::kMillisecond);

void BM_TenThousand_TIBRQuery(benchmark::State& state) {
  TIBRDATABASE& db = KeptConnection();
  std::string name;
  for (auto _ : state) benchmark::DoNotOptimize(LayerQuery(db, kAllRows, name));
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_TenThousand_TIBRQuery)->Unit(benchmark::kMillisecond);

void RawAttachQueryDetach(const std::string& name, const std::string& dpb, std::string& last) {
  {
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    isc_attach_database(status, static_cast<short>(name.size()), name.c_str(), &db,
                        static_cast<short>(dpb.size()), dpb.data());
    Check(status);
    isc_tr_handle tr = 0;
    const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                        isc_tpb_rec_version, isc_tpb_nowait};
    isc_start_transaction(status, &tr, 1, &db, static_cast<unsigned short>(sizeof tpb), tpb);
    Check(status);
    benchmark::DoNotOptimize(RawQuery(&db, &tr, kOneRow, last));
    isc_rollback_transaction(status, &tr);
    isc_detach_database(status, &db);
  }
}

void LayerAttachQueryDetach(const std::string& name, std::string& last) {
  TIBRDATABASE db;
  db.SetDatabaseName(name);
  db.Open();
  benchmark::DoNotOptimize(LayerQuery(db, kOneRow, last));
  db.Close();
}

void BM_Attach_Raw(benchmark::State& state) {
  const std::string name = Database().ConnectionString();
  const std::string dpb = tarvo::db::detail::AttachParameters();
  std::string last;
  for (auto _ : state) RawAttachQueryDetach(name, dpb, last);
}
BENCHMARK(BM_Attach_Raw)->Unit(benchmark::kMillisecond);

void BM_Attach_TIBRQuery(benchmark::State& state) {
  const std::string name = Database().ConnectionString();
  std::string last;
  for (auto _ : state) LayerAttachQueryDetach(name, last);
}
BENCHMARK(BM_Attach_TIBRQuery)->Unit(benchmark::kMillisecond);

// The same comparisons with raw and layer calls alternating inside one
// loop, so that load from elsewhere on the machine hits both alike; the
// counters give the mean time of each side and their ratio.
template <typename Raw, typename Layer>
void Paired(benchmark::State& state, Raw raw, Layer layer) {
  using Clock = std::chrono::steady_clock;
  Clock::duration rawTime{}, layerTime{};
  bool rawFirst = true;
  for (auto _ : state) {
    // Alternate the order so that neither side always follows the other.
    auto t0 = Clock::now();
    if (rawFirst) raw(); else layer();
    auto t1 = Clock::now();
    if (rawFirst) layer(); else raw();
    auto t2 = Clock::now();
    rawTime += rawFirst ? t1 - t0 : t2 - t1;
    layerTime += rawFirst ? t2 - t1 : t1 - t0;
    rawFirst = !rawFirst;
  }
  const double n = static_cast<double>(state.iterations());
  const double rawUs = std::chrono::duration<double, std::micro>(rawTime).count() / n;
  const double layerUs = std::chrono::duration<double, std::micro>(layerTime).count() / n;
  state.counters["raw_us"] = rawUs;
  state.counters["layer_us"] = layerUs;
  state.counters["ratio"] = layerUs / rawUs;
}

void BM_Paired_OneRow(benchmark::State& state) {
  TIBRDATABASE& db = KeptConnection();
  auto* tr = static_cast<isc_tr_handle*>(db.NativeTransactionHandle());
  auto* handle = static_cast<isc_db_handle*>(db.NativeHandle());
  std::string a, b;
  Paired(
      state, [&] { benchmark::DoNotOptimize(RawQuery(handle, tr, kOneRow, a)); },
      [&] { benchmark::DoNotOptimize(LayerQuery(db, kOneRow, b)); });
}
BENCHMARK(BM_Paired_OneRow);

void BM_Paired_TenThousand(benchmark::State& state) {
  TIBRDATABASE& db = KeptConnection();
  auto* tr = static_cast<isc_tr_handle*>(db.NativeTransactionHandle());
  auto* handle = static_cast<isc_db_handle*>(db.NativeHandle());
  std::string a, b;
  Paired(
      state, [&] { benchmark::DoNotOptimize(RawQuery(handle, tr, kAllRows, a)); },
      [&] { benchmark::DoNotOptimize(LayerQuery(db, kAllRows, b)); });
}
BENCHMARK(BM_Paired_TenThousand)->Unit(benchmark::kMillisecond);

void BM_Paired_Attach(benchmark::State& state) {
  const std::string name = Database().ConnectionString();
  const std::string dpb = tarvo::db::detail::AttachParameters();
  std::string a, b;
  Paired(
      state, [&] { RawAttachQueryDetach(name, dpb, a); },
      [&] { LayerAttachQueryDetach(name, b); });
}
BENCHMARK(BM_Paired_Attach)->Unit(benchmark::kMillisecond);

void BM_Paired_AttachOnly(benchmark::State& state) {
  const std::string name = Database().ConnectionString();
  const std::string dpb = tarvo::db::detail::AttachParameters();
  Paired(
      state,
      [&] {
        ISC_STATUS_ARRAY status{};
        isc_db_handle db = 0;
        isc_attach_database(status, static_cast<short>(name.size()), name.c_str(), &db,
                            static_cast<short>(dpb.size()), dpb.data());
        Check(status);
        isc_detach_database(status, &db);
      },
      [&] {
        TIBRDATABASE db;
        db.SetDatabaseName(name);
        db.Open();
        db.Close();
      });
}
BENCHMARK(BM_Paired_AttachOnly)->Unit(benchmark::kMillisecond);

}  // namespace
