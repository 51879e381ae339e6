// plat::Regex against std::regex (libstdc++, ECMAScript grammar) in the
// same run.  Each row is a pair named BM_Regex_<Row>_Ours and
// BM_Regex_<Row>_StdRegex so that a script can set them side by side.
//
// Search rows: every match of a pattern in about 1 MB of log-like text,
// found one after another with the groups the pattern has, as a caller
// pulling fields out of a log would.
//
// Pathological row: the pattern (a*)*b over a text of n letters a and no b,
// where every match attempt fails.  plat::Regex runs one pass over the text,
// so its time grows linearly from 10 to 10^6 characters (the reported
// complexity should be O(N)).  std::regex backtracks and recurses once per
// character: with libstdc++ its time grows about threefold with every
// character (some 10 ms at 10, 2 s at 15, minutes at 20), so it runs only up
// to 14 characters.  Both are measured at 8, 10, 12 and 14 characters for
// the ratio.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "qocore/base/plat/Regex.h"

namespace {

// About 1 MB of log lines with addresses, e-mail addresses and a few
// keywords among ordinary words, the same on every run.
const std::string& logText() {
  static const std::string text = [] {
    static const char* const kWords[] = {"the",     "session", "client",  "request", "server",  "update",
                                         "package", "install", "network", "proxy",   "timeout", "retry",
                                         "window",  "setup",   "files",   "copied",  "user",    "ok"};
    static const char* const kLevels[] = {"info", "info", "info", "debug", "warning", "error"};
    static const char* const kNames[] = {"alice", "bob.smith", "carol+tag", "dave_x", "eve-1"};
    static const char* const kHosts[] = {"example.com", "mail.example.org", "host-1.net", "a.b.c.de"};
    uint32_t state = 12345;
    auto rnd = [&state](uint32_t n) {
      state = state * 1103515245u + 12345u;
      return (state >> 16) % n;
    };
    std::string s;
    s.reserve(1 << 20);
    for (int line = 0; s.size() < (1u << 20); ++line) {
      s += "2026-12-10 18:";
      s += std::to_string(10 + rnd(50));
      s += ' ';
      s += kLevels[rnd(6)];
      s += ':';
      const int words = 6 + static_cast<int>(rnd(10));
      for (int w = 0; w < words; ++w) {
        s += ' ';
        s += kWords[rnd(18)];
      }
      switch (rnd(8)) {
        case 0:
          s += " from ";
          s += std::to_string(rnd(256)) + '.' + std::to_string(rnd(256)) + '.' + std::to_string(rnd(256)) + '.' +
               std::to_string(rnd(256)) + ':' + std::to_string(1024 + rnd(60000));
          break;
        case 1:
          s += " mail to ";
          s += kNames[rnd(5)];
          s += '@';
          s += kHosts[rnd(4)];
          break;
        case 2:
          s += " connection refused by peer";
          break;
        case 3:
          s += " version 10.4.2 build 7";
          break;
        default:
          break;
      }
      s += '\n';
    }
    return s;
  }();
  return text;
}

// clang-format off
constexpr const char* kLiteral = "connection refused";
constexpr const char* kIpv4Port = R"((\d+)\.(\d+)\.(\d+)\.(\d+):(\d+))";
constexpr const char* kAlternation = "warning|error|refused|timeout|fatal";
constexpr const char* kEmail = R"([\w.+-]+@[\w-]+\.[\w.-]+)";
// clang-format on

void searchOurs(benchmark::State& state, const char* pattern) {
  const std::string& text = logText();
  const plat::Regex re(pattern, 0);
  const int groups = re.groupCount();
  std::vector<const char*> starts(static_cast<size_t>(groups) + 1), ends(starts.size());
  const char* const textEnd = text.data() + text.size();
  int64_t found = 0;
  for (auto _ : state) {
    found = 0;
    const char* from = text.data();
    for (;;) {
      const char* end = textEnd;
      const char* start = re.find(from, &end, starts.data(), ends.data(), groups);
      if (!start) break;
      ++found;
      from = end > start ? end : start + 1;
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["matches"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void searchStd(benchmark::State& state, const char* pattern) {
  const std::string& text = logText();
  const std::regex re(pattern, std::regex::ECMAScript);
  int64_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), re), stop; it != stop; ++it) ++found;
    benchmark::DoNotOptimize(found);
  }
  state.counters["matches"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Regex_Literal_Ours(benchmark::State& state) { searchOurs(state, kLiteral); }
void BM_Regex_Literal_StdRegex(benchmark::State& state) { searchStd(state, kLiteral); }
void BM_Regex_Ipv4Port_Ours(benchmark::State& state) { searchOurs(state, kIpv4Port); }
void BM_Regex_Ipv4Port_StdRegex(benchmark::State& state) { searchStd(state, kIpv4Port); }
void BM_Regex_Alternation_Ours(benchmark::State& state) { searchOurs(state, kAlternation); }
void BM_Regex_Alternation_StdRegex(benchmark::State& state) { searchStd(state, kAlternation); }
void BM_Regex_Email_Ours(benchmark::State& state) { searchOurs(state, kEmail); }
void BM_Regex_Email_StdRegex(benchmark::State& state) { searchStd(state, kEmail); }

BENCHMARK(BM_Regex_Literal_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex_Literal_StdRegex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex_Ipv4Port_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex_Ipv4Port_StdRegex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex_Alternation_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex_Alternation_StdRegex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex_Email_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Regex_Email_StdRegex)->Unit(benchmark::kMillisecond);

constexpr const char* kPathological = "(a*)*b";

void BM_Regex_Pathological_Ours(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  const plat::Regex re(kPathological, 0);
  for (auto _ : state) {
    bool found = re.search(text.data(), text.data() + text.size());
    benchmark::DoNotOptimize(found);
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Regex_Pathological_Ours)
    ->DenseRange(8, 14, 2)
    ->RangeMultiplier(10)
    ->Range(100, 1000000)
    ->Complexity(benchmark::oN);

void BM_Regex_Pathological_StdRegex(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  const std::regex re(kPathological, std::regex::ECMAScript);
  for (auto _ : state) {
    bool found = std::regex_search(text, re);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Regex_Pathological_StdRegex)->DenseRange(8, 14, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
