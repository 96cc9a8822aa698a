// bench_server: the envelope, the JSON row writer and the HTTP API end to
// end, each next to a raw baseline measured in the same run. A summary of
// the ratios is printed at the end.
//
//   build/bin/bench_server                       everything
//   build/bin/bench_server --benchmark_filter=Envelope
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/IBTarvo.h"
#include "common/Konfiguration.h"
#include "common/testing/TestDatabase.h"
#include "server/Envelope.h"
#include "server/JSONSupport.h"
#include "server/RowFormat.h"
#include "server/TarvoClient.h"
#include "server/WebServer.h"
#include "bench/server/BenchSupport.h"

using namespace tarvo;
using namespace tarvo::server;
using tarvo::bench_server::Median;
using tarvo::bench_server::StatusKb;

namespace {

constexpr size_t kBlobSize = 50u << 20;
const char* const kKey = "bench-schluessel";

std::mutex gResultsMutex;
std::map<std::string, double> gResults;
void Record(const std::string& name, double value) {
  std::lock_guard lock(gResultsMutex);
  gResults[name] = value;
}

std::string Payload() {
  std::string p(kBlobSize, '\0');
  std::mt19937_64 rng(3);
  for (size_t i = 0; i + 8 <= p.size(); i += 8) {
    const uint64_t v = rng();
    std::memcpy(&p[i], &v, 8);
  }
  return p;
}

// ---- envelope -------------------------------------------------------------

void BM_EnvelopeEncryptBase64(benchmark::State& state) {
  const std::string payload = Payload();
  std::string work = payload;
  std::string out(envelope::Base64EncodedSize(payload.size()), '\0');
  const auto key = envelope::Make256BitKey(kKey);
  for (auto _ : state) {
    envelope::AesCtrInPlace(key, work.data(), work.size(), true);
    envelope::Base64EncodeMimeTo(work, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload.size()));
}
BENCHMARK(BM_EnvelopeEncryptBase64)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EnvelopeDecodeDecrypt(benchmark::State& state) {
  const std::string text = envelope::EncryptToBase64(kKey, Payload());
  const auto key = envelope::Make256BitKey(kKey);
  for (auto _ : state) {
    std::string data = envelope::Base64DecodeLenient(text);
    envelope::AesCtrInPlace(key, data.data(), data.size(), false);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlobSize));
}
BENCHMARK(BM_EnvelopeDecodeDecrypt)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same into a buffer kept across iterations: the codec without the
// page faults of a fresh 50 MB allocation.
void BM_EnvelopeDecodeDecryptReusedBuffer(benchmark::State& state) {
  const std::string text = envelope::EncryptToBase64(kKey, Payload());
  const auto key = envelope::Make256BitKey(kKey);
  std::string data(envelope::Base64DecodedCapacity(text.size()), '\0');
  for (auto _ : state) {
    const size_t n = envelope::Base64DecodeLenientTo(text, data.data());
    envelope::AesCtrInPlace(key, data.data(), n, false);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlobSize));
}
BENCHMARK(BM_EnvelopeDecodeDecryptReusedBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Raw baseline: OpenSSL's AES-CTR and EVP_EncodeBlock on the same data.
void BM_RawOpenSslCtrEncodeBlock(benchmark::State& state) {
  const std::string payload = Payload();
  std::string work = payload;
  std::string out(payload.size() / 3 * 4 + 8, '\0');
  const auto key = envelope::Make256BitKey(kKey);
  for (auto _ : state) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_ctr(), nullptr, key.data(),
                       reinterpret_cast<const unsigned char*>(envelope::kInitialCounter.data()));
    int n = 0;
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(work.data()), &n,
                      reinterpret_cast<const unsigned char*>(work.data()), int(work.size()));
    EVP_CIPHER_CTX_free(ctx);
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), reinterpret_cast<const unsigned char*>(work.data()),
                    int(work.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(payload.size()));
}
BENCHMARK(BM_RawOpenSslCtrEncodeBlock)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- row writer -----------------------------------------------------------

void BM_RowWriter10000x10(benchmark::State& state) {
  // Ten mixed columns per row, converted as the query action converts them.
  struct Row {
    int64_t nr;
    std::string name, ort, notiz;
    double betrag, preis;
    DateTime datum;
    int menge, status;
    std::string kz;
  };
  std::vector<Row> rows;
  for (int i = 0; i < 10000; ++i)
    rows.push_back({i, "Kunde " + std::to_string(i), "M\xC3\xBCnchen", i % 7 ? "Notiz \"kurz\"" : "Zeile\r\nzwei",
                    i * 1.25, i * 0.5, {2024, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60, 0}, i % 100, i % 5,
                    "J"});
  const std::string names[10] = {"nr", "name", "ort", "betrag", "menge", "datum", "kz", "notiz", "preis", "status"};
  size_t bytes = 0;
  for (auto _ : state) {
    std::string json;
    TJsonWriter w(json);
    w.BeginObject();
    w.Key("data");
    w.BeginArray();
    for (const Row& r : rows) {
      w.BeginObject();
      w.Member(names[0], std::to_string(r.nr));
      w.Member(names[1], r.name);
      w.Member(names[2], r.ort);
      w.Member(names[3], FormatFloatEnUS(r.betrag));
      w.Member(names[4], std::to_string(r.menge));
      w.Member(names[5], FormatIsoDateTime(r.datum));
      w.Member(names[6], r.kz);
      w.Member(names[7], r.notiz);
      w.Member(names[8], FormatFloatEnUS(r.preis));
      w.Member(names[9], std::to_string(r.status));
      w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    bytes = json.size();
    benchmark::DoNotOptimize(json.data());
  }
  state.counters["json_bytes"] = double(bytes);
}
BENCHMARK(BM_RowWriter10000x10)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- end to end -----------------------------------------------------------

struct Environment {
  testing::TestDatabase db{testing::TestDatabase::Schema::None};
  ServerContext context;
  std::unique_ptr<TWebServer> server;
  std::string url;

  Environment() {
    db.Execute(
        "CREATE TABLE T_ROWS (NR INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), ORT VARCHAR(40), BETRAG DOUBLE "
        "PRECISION, MENGE INTEGER, DATUM TIMESTAMP, KZ CHAR(1), NOTIZ VARCHAR(100), PREIS NUMERIC(9,2), STATUS "
        "SMALLINT)");
    db.Execute("CREATE TABLE T_BLOB (NR INTEGER NOT NULL PRIMARY KEY, DATEN BLOB SUB_TYPE 0)");
    db.Execute(
        "CREATE PROCEDURE P_FILL (N INTEGER) AS DECLARE VARIABLE I INTEGER; BEGIN I = 0; WHILE (I < N) DO BEGIN "
        "I = I + 1; INSERT INTO T_ROWS VALUES (:I, 'Kunde ' || :I, 'Ort', :I * 1.25, :I, '2024-03-05 14:07:09', "
        "'J', 'Notiz', :I * 0.5, 1); END END");
    db.Execute("EXECUTE PROCEDURE P_FILL(10000)");
    {
      db::TIBRDATABASE c;
      c.SetDatabaseName(db.ConnectionString());
      c.Open();
      db::TIBRQuery q(c);
      q.SetSQL("INSERT INTO T_BLOB (NR, DATEN) VALUES (1, :D)");
      q.SetParamBlob("D", Payload());
      q.ExecSQL();
      c.Commit();
    }
    server = bench_server::StartWebServer(context, kKey, db.ConnectionString(), url);
  }
};

Environment& Env() {
  static Environment env;
  return env;
}

const std::string kOneRowSql = "SELECT NR, NAME, BETRAG, DATUM FROM T_ROWS WHERE NR = :NR";
const std::string kManyRowsSql = "SELECT * FROM T_ROWS";

void RawQuery(const std::string& connection, const std::string& sql, bool withParam, size_t* rows = nullptr) {
  db::TIBRDATABASE c;
  c.SetDatabaseName(connection);
  c.Open();
  {
    db::TIBRQuery q(c);
    q.SetSQL(sql);
    if (withParam) q.SetParamText("NR", "5");
    q.Open();
    size_t n = 0;
    std::string sink;
    while (!q.Eof()) {
      for (int i = 0; i < q.FieldCount(); ++i) sink += q.AsText(i);
      sink.clear();
      q.Next();
      ++n;
    }
    if (rows) *rows = n;
  }
  c.Close();
}

void ServerQuery(const TTarvoClient& client, const std::string& sql, bool withParam) {
  TRequestStatement s{sql, {}};
  if (withParam) s.Params.emplace_back("NR", "5");
  const TClientResponse r = client.PostEncrypted("/v2/query", TTarvoClient::StatementBody(s));
  if (r.Status != 200) throw std::runtime_error("status " + std::to_string(r.Status));
  benchmark::DoNotOptimize(client.Decrypt(r.Body));
}

template <typename F>
void TimedLoop(benchmark::State& state, const std::string& name, F&& once) {
  std::vector<double> us;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    once();
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  const double median = Median(us);
  state.counters["median_us"] = median;
  Record(name, median);
}

void BM_OneRowRaw(benchmark::State& state) {
  const std::string conn = Env().db.ConnectionString();
  TimedLoop(state, "one_row_raw_us", [&] { RawQuery(conn, kOneRowSql, true); });
}
BENCHMARK(BM_OneRowRaw)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

void BM_OneRowServer(benchmark::State& state) {
  TTarvoClient client(Env().url, kKey);
  TimedLoop(state, "one_row_server_us", [&] { ServerQuery(client, kOneRowSql, true); });
}
BENCHMARK(BM_OneRowServer)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

void BM_OneRowRawThroughput(benchmark::State& state) {
  const std::string conn = Env().db.ConnectionString();
  for (auto _ : state) RawQuery(conn, kOneRowSql, true);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OneRowRawThroughput)->Threads(8)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMicrosecond);

void BM_OneRowServerThroughput(benchmark::State& state) {
  TTarvoClient client(Env().url, kKey);
  for (auto _ : state) ServerQuery(client, kOneRowSql, true);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OneRowServerThroughput)->Threads(8)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMicrosecond);

// The two throughputs above taken in turns, rounds of 1.5 s each with 8
// threads, so that drifts of the machine and of the database server fall
// on both alike: `ratio` is the median server rate over the median raw
// rate of the same rounds.
void BM_OneRowThroughputInTurns(benchmark::State& state) {
  const std::string conn = Env().db.ConnectionString();
  TTarvoClient client(Env().url, kKey);
  const auto rate = [](const std::function<void()>& request) {
    std::atomic<bool> stop{false};
    std::atomic<long> done{0};
    std::vector<std::thread> threads;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] {
        while (!stop) {
          request();
          ++done;
        }
      });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    stop = true;
    for (auto& t : threads) t.join();
    return double(done) / std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  std::vector<double> raw, server;
  for (auto _ : state) {
    raw.push_back(rate([&] { RawQuery(conn, kOneRowSql, true); }));
    server.push_back(rate([&] { ServerQuery(client, kOneRowSql, true); }));
  }
  state.counters["raw_per_s"] = Median(raw);
  state.counters["server_per_s"] = Median(server);
  state.counters["ratio"] = Median(server) / Median(raw);
  Record("one-row throughput in turns, server / raw", Median(server) / Median(raw));
}
BENCHMARK(BM_OneRowThroughputInTurns)->Iterations(6)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_TenThousandRowsRaw(benchmark::State& state) {
  const std::string conn = Env().db.ConnectionString();
  size_t rows = 0;
  TimedLoop(state, "rows_raw_us", [&] { RawQuery(conn, kManyRowsSql, false, &rows); });
  state.counters["rows"] = double(rows);
}
BENCHMARK(BM_TenThousandRowsRaw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_TenThousandRowsServer(benchmark::State& state) {
  TTarvoClient client(Env().url, kKey);
  TimedLoop(state, "rows_server_us", [&] { ServerQuery(client, kManyRowsSql, false); });
}
BENCHMARK(BM_TenThousandRowsServer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// ---- memory of a server process streaming a 50 MB blob ---------------------

void BM_StreamPeakMemory(benchmark::State& state) {
  const std::string path = state.range(0) == 0 ? "/v2/stream" : "/v2/plainstream";
  for (auto _ : state) {
    Poco::Pipe in, out;
    Poco::ProcessHandle ph = Poco::Process::launch(
        TARVO_WEBSERVER_HOST, {"0", Env().db.ConnectionString(), kKey}, &in, &out, nullptr);
    Poco::PipeInputStream fromHost(out);
    std::string ready;
    fromHost >> ready;
    int port = 0;
    fromHost >> port;
    if (ready != "READY") {
      state.SkipWithError("host did not start");
      break;
    }
    TTarvoClient client("http://127.0.0.1:" + std::to_string(port), kKey);
    // Warm up: one small request, then take the baseline.
    client.PostEncrypted("/v2/query", R"({"sql":"SELECT 1 FROM RDB$DATABASE"})");
    const long before = StatusKb(ph.id(), "VmHWM:");
    const TClientResponse r =
        client.PostEncrypted(path, TTarvoClient::StatementBody({"SELECT DATEN FROM T_BLOB WHERE NR = 1", {}}));
    const long after = StatusKb(ph.id(), "VmHWM:");
    const size_t got = path == "/v2/stream" ? client.Decrypt(r.Body).size() : r.Body.size();
    in.close();
    ph.wait();
    if (got != kBlobSize) {
      state.SkipWithError("wrong size");
      break;
    }
    const double growth = double(after - before) * 1024.0;
    state.counters["peak_growth_MB"] = growth / (1 << 20);
    state.counters["x_blob"] = growth / double(kBlobSize);
    Record(path + " peak growth x blob", growth / double(kBlobSize));
  }
}
BENCHMARK(BM_StreamPeakMemory)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::lock_guard lock(gResultsMutex);
  auto ratio = [&](const char* label, const char* a, const char* b) {
    if (gResults.count(a) && gResults.count(b))
      std::printf("%-44s %.2f\n", label, gResults[a] / gResults[b]);
  };
  std::printf("\nsummary\n");
  ratio("one-row median latency, server / raw", "one_row_server_us", "one_row_raw_us");
  ratio("10,000 rows median, server / raw", "rows_server_us", "rows_raw_us");
  for (const auto& [name, value] : gResults)
    if (name.find("peak") != std::string::npos || name.find("in turns") != std::string::npos) std::printf("%-44s %.2f\n", name.c_str(), value);
  return 0;
}
