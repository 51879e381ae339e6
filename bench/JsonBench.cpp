// JSON parse and write of a generated document of about 4 MB, next to
// nlohmann-json (a reference used here only) on the same text.  The
// writers both indent by two blanks.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "qocore/base/plat/Json.h"

namespace {

// An array of records like a service's listing: integers, short and
// escaped strings, text beyond ASCII and above U+FFFF, nested objects and
// arrays.
const std::string& document() {
  static const std::string text = [] {
    std::string s = "[";
    uint32_t state = 12345;
    auto next = [&state] {
      state = state * 1103515245u + 12345u;
      return state >> 8;
    };
    for (int i = 0; i < 12000; ++i) {
      if (i) s += ",";
      const std::string id = std::to_string(i);
      s += "\n {\"id\": " + id + ", \"name\": \"user-" + id + "\", \"email\": \"user" + id +
           "@example.com\", \"active\": " + (next() % 2 ? "true" : "false") +
           ", \"score\": " + std::to_string(static_cast<int64_t>(next()) - (1 << 23)) +
           ", \"created\": \"2024-03-05T10:20:30Z\", \"tags\": [\"alpha\", \"beta\", \"gamma\"]" +
           ", \"address\": {\"street\": \"" + std::to_string(next() % 1000) +
           " Caf\xC3\xA9 Street\", \"city\": \"M\xC3\xBCnchen\", \"zip\": \"80331\", \"geo\": [" +
           std::to_string(next() % 180) + ", -" + std::to_string(1 + next() % 89) + "]}" +
           ", \"note\": \"Line one\\nline \\\"two\\\" \\u00e9\\ud83d\\ude00 and a \\/slash\\t.\"" +
           ", \"history\": [{\"at\": " + std::to_string(next()) +
           ", \"event\": \"login\"}, {\"at\": " + std::to_string(next()) +
           ", \"event\": \"logout\", \"extra\": null}]}";
    }
    return s + "\n]";
  }();
  return text;
}

void BM_Parse_Yarl(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    plat::JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
    plat::JsonRef value = plat::Json::parseHttpBody(nullptr, reader);
    benchmark::DoNotOptimize(value.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Parse_Yarl)->Unit(benchmark::kMillisecond);

void BM_Parse_Nlohmann(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Parse_Nlohmann)->Unit(benchmark::kMillisecond);

void BM_Write_Yarl(benchmark::State& state) {
  const std::string& text = document();
  plat::JsonReader reader(text.data(), static_cast<int32_t>(text.size()));
  const plat::JsonRef value = plat::Json::parseHttpBody(nullptr, reader);
  size_t written = 0;
  for (auto _ : state) {
    plat::CharArray out = value->toText();
    written = std::strlen(out.get());
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
  state.counters["output_bytes"] = static_cast<double>(written);
}
BENCHMARK(BM_Write_Yarl)->Unit(benchmark::kMillisecond);

void BM_Write_Nlohmann(benchmark::State& state) {
  const nlohmann::json value = nlohmann::json::parse(document());
  size_t written = 0;
  for (auto _ : state) {
    std::string out = value.dump(2);
    written = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
  state.counters["output_bytes"] = static_cast<double>(written);
}
BENCHMARK(BM_Write_Nlohmann)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
