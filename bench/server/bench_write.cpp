// The write side of the HTTP API, each next to a raw baseline in the same
// run (part of bench_server):
//
//   build/bin/bench_server --benchmark_filter='ExecuteBatch|ExecuteStream|Token'
//
// ExecuteBatch1000: "/v2/executebatch" with 1,000 inserts against the
//   database layer running the same inserts in one transaction (connect,
//   1,000 executions of one prepared insert, commit, disconnect); counter
//   x_raw = server median / raw median.
// ExecuteStreamPeakMemory: a server process (tarvo_webserver_host) takes a
//   50 MB value through "/v2/executestream"; counter x_value = growth of
//   its peak resident memory / value size; the stored blob is compared byte
//   for byte.
// TokenRoundTrip100: EncryptValue + DecryptValue of a 100-character text,
//   beside Base64 encoding and decoding of its 600-byte hex text.
#include <benchmark/benchmark.h>

#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/IBTarvo.h"
#include "common/Konfiguration.h"
#include "common/testing/TestDatabase.h"
#include "server/Envelope.h"
#include "server/TarvoClient.h"
#include "server/Token.h"
#include "server/Web.h"
#include "server/WebServer.h"
#include "bench/server/BenchSupport.h"

using namespace tarvo;
using namespace tarvo::server;
using tarvo::bench_server::Median;
using tarvo::bench_server::StatusKb;

namespace {

const char* const kWriteKey = "bench-schluessel";
constexpr size_t kValueSize = 50u << 20;
constexpr int kInserts = 1000;
const std::string kInsertSql = "INSERT INTO T_BATCH (NR, NAME, BETRAG, DATUM) VALUES (:NR, :NAME, :BETRAG, :DATUM)";

struct WriteEnvironment {
  testing::TestDatabase db{testing::TestDatabase::Schema::None};
  ServerContext context;
  std::unique_ptr<TWebServer> server;
  std::string url;

  WriteEnvironment() {
    db.Execute(
        "CREATE TABLE T_BATCH (NR INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), BETRAG DOUBLE PRECISION, "
        "DATUM TIMESTAMP)");
    db.Execute("CREATE TABLE T_WERT (NR INTEGER NOT NULL PRIMARY KEY, DATEN BLOB SUB_TYPE 0)");
    server = bench_server::StartWebServer(context, kWriteKey, db.ConnectionString(), url);
  }
};

WriteEnvironment& WriteEnv() {
  static WriteEnvironment env;
  return env;
}

std::vector<TRequestStatement> InsertStatements() {
  std::vector<TRequestStatement> s;
  s.reserve(kInserts);
  for (int i = 1; i <= kInserts; ++i)
    s.push_back({kInsertSql,
                 {{"NR", std::to_string(i)}, {"NAME", "Kunde " + std::to_string(i)}, {"BETRAG", "12.5"},
                  {"DATUM", "2024-03-05T14:07:09"}}});
  return s;
}

void Clear(const std::string& connection) {
  db::TIBRDATABASE c;
  c.SetDatabaseName(connection);
  c.Open();
  db::TIBRQuery q(c);
  q.SetSQL("DELETE FROM T_BATCH");
  q.ExecSQL();
  c.Commit();
}

void RawInserts(const std::string& connection, const std::vector<TRequestStatement>& statements) {
  db::TIBRDATABASE c;
  c.SetDatabaseName(connection);
  c.Open();
  c.StartTransaction();
  {
    db::TIBRQuery q(c);
    q.SetSQL(kInsertSql);
    for (const auto& s : statements) {
      q.ClearParams();
      q.SetParamText("NR", s.Params[0].second);
      q.SetParamText("NAME", s.Params[1].second);
      q.SetParamText("BETRAG", s.Params[2].second);
      q.SetParamDateTime("DATUM", DateTime{2024, 3, 5, 14, 7, 9, 0});
      q.ExecSQL();
    }
  }
  c.Commit();
  c.Close();
}

// Runs `raw` and `subject` in turns, so that both see the same machine
// load, each timed and followed by an untimed emptying of the table.
// `subject` answers an error text, empty on success. Reports the medians
// as raw_ms and <name>_ms, their ratio x_raw, and the same for the
// minimums, the figures least disturbed by other load.
void PairedWithRaw(benchmark::State& state, const std::string& name, const std::function<void()>& raw,
                   const std::function<std::string()>& subject) {
  const std::string connection = WriteEnv().db.ConnectionString();
  std::vector<double> rawMs, subjectMs;
  const auto timed = [](std::vector<double>& into, const auto& run) {
    const auto t0 = std::chrono::steady_clock::now();
    auto result = run();
    into.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    return result;
  };
  for (auto _ : state) {
    timed(rawMs, [&] {
      raw();
      return 0;
    });
    state.PauseTiming();
    Clear(connection);
    state.ResumeTiming();
    const std::string error = timed(subjectMs, subject);
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.PauseTiming();
    Clear(connection);
    state.ResumeTiming();
  }
  if (rawMs.empty() || subjectMs.empty()) return;
  state.counters["raw_ms"] = Median(rawMs);
  state.counters[name + "_ms"] = Median(subjectMs);
  state.counters["x_raw"] = Median(subjectMs) / Median(rawMs);
  state.counters["raw_min_ms"] = *std::min_element(rawMs.begin(), rawMs.end());
  state.counters[name + "_min_ms"] = *std::min_element(subjectMs.begin(), subjectMs.end());
  state.counters["x_raw_min"] = state.counters[name + "_min_ms"] / state.counters["raw_min_ms"];
}

void BM_ExecuteBatch1000(benchmark::State& state) {
  WriteEnvironment& env = WriteEnv();
  const auto statements = InsertStatements();
  const std::string body = TTarvoClient::BatchBody(statements);
  TTarvoClient client(env.url, kWriteKey);
  PairedWithRaw(
      state, "server", [&] { RawInserts(env.db.ConnectionString(), statements); },
      [&]() -> std::string {
        const TClientResponse r = client.PostEncrypted("/v2/executebatch", body);
        if (r.Status == 200) return {};
        return "status " + std::to_string(r.Status) + " " + client.Decrypt(r.Body);
      });
}
BENCHMARK(BM_ExecuteBatch1000)->Iterations(31)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same batch handed to a web module directly: the action without HTTP.
void BM_ExecuteBatch1000Module(benchmark::State& state) {
  WriteEnvironment& env = WriteEnv();
  const auto statements = InsertStatements();
  TTarvoClient client(env.url, kWriteKey);
  TWebRequest request;
  request.Method = "POST";
  request.PathInfo = "/v2/executebatch";
  request.Headers.emplace_back("Authorization", client.Authorization());
  request.Content = envelope::EncryptToBase64(kWriteKey, TTarvoClient::BatchBody(statements));
  TWebModul module(env.context);
  PairedWithRaw(
      state, "module", [&] { RawInserts(env.db.ConnectionString(), statements); },
      [&]() -> std::string {
        TWebResponse response;
        module.HandleRequest(request, response);
        if (response.StatusCode == 200) return {};
        return "status " + std::to_string(response.StatusCode);
      });
}
BENCHMARK(BM_ExecuteBatch1000Module)->Iterations(31)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExecuteStreamPeakMemory(benchmark::State& state) {
  WriteEnvironment& env = WriteEnv();
  std::string value(kValueSize, '\0');
  std::mt19937_64 rng(5);
  for (size_t i = 0; i + 8 <= value.size(); i += 8) {
    const uint64_t v = rng();
    std::memcpy(&value[i], &v, 8);
  }
  const std::string body = envelope::EncryptToBase64(kWriteKey, value);
  for (auto _ : state) {
    Poco::Pipe in, out;
    Poco::ProcessHandle ph = Poco::Process::launch(TARVO_WEBSERVER_HOST, {"0", env.db.ConnectionString(), kWriteKey},
                                                   &in, &out, nullptr);
    Poco::PipeInputStream fromHost(out);
    std::string ready;
    int port = 0;
    fromHost >> ready >> port;
    if (ready != "READY") {
      state.SkipWithError("host did not start");
      break;
    }
    TTarvoClient client("http://127.0.0.1:" + std::to_string(port), kWriteKey);
    client.PostEncrypted("/v2/execute", R"({"sql":"DELETE FROM T_WERT"})");
    const long before = StatusKb(ph.id(), "VmHWM:");
    const TClientResponse r = client.Send(
        "POST", "/v2/executestream", body,
        {{"x-qx-command",
          client.EncryptHeader(R"j({"sql":"INSERT INTO T_WERT (NR, DATEN) VALUES (1, :BYTES)","params":{"BYTES":""}})j")}});
    const long after = StatusKb(ph.id(), "VmHWM:");
    in.close();
    ph.wait();
    if (r.Status != 200 || client.Decrypt(r.Body) != R"({"data":[]})") {
      state.SkipWithError(("status " + std::to_string(r.Status)).c_str());
      break;
    }
    // The stored blob, byte for byte.
    db::TIBRDATABASE c;
    c.SetDatabaseName(env.db.ConnectionString());
    c.Open();
    db::TIBRQuery q(c);
    q.SetSQL("SELECT DATEN FROM T_WERT WHERE NR = 1");
    q.Open();
    const bool equal = !q.Eof() && q.AsBytes(0) == value;
    q.Close();
    c.Close();
    if (!equal) {
      state.SkipWithError("stored blob differs");
      break;
    }
    const double growth = double(after - before) * 1024.0;
    state.counters["peak_growth_MB"] = growth / (1 << 20);
    state.counters["x_value"] = growth / double(kValueSize);
    state.counters["blob_equal"] = 1;
  }
}
BENCHMARK(BM_ExecuteStreamPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

std::string HundredCharacters() {
  std::string text;
  const char* word = "Bericht f\xC3\xBCr M\xC3\xBCller 4711 ";
  while (text.size() < 200) text += word;
  // 100 characters (the umlauts are two bytes each).
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < text.size() && chars < 100; ++chars) {
    const size_t len = (static_cast<unsigned char>(text[i]) >= 0xC0) ? 2 : 1;
    out.append(text, i, len);
    i += len;
  }
  return out;
}

void BM_TokenRoundTrip100(benchmark::State& state) {
  const std::string text = HundredCharacters();
  for (auto _ : state) {
    std::string t = EncryptValue(text);
    std::string back = DecryptValue(t);
    benchmark::DoNotOptimize(back);
  }
  if (DecryptValue(EncryptValue(text)) != text) state.SkipWithError("round trip failed");
}
BENCHMARK(BM_TokenRoundTrip100)->Unit(benchmark::kMicrosecond);

// Raw: Base64 of the 600-byte hex text there and back.
void BM_TokenRoundTrip100RawBase64(benchmark::State& state) {
  const std::string hex(600, '$');
  for (auto _ : state) {
    std::string b = envelope::Base64EncodeMime(hex);
    std::string back = envelope::Base64DecodeLenient(b);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_TokenRoundTrip100RawBase64)->Unit(benchmark::kMicrosecond);

}  // namespace
