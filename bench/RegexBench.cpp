// Search time against text length for the pathological pattern (a*)*b over
// a text of n letters a and no b, where every match attempt fails.
//
// plat::Regex runs one pass over the text, so its time grows linearly from
// 10 to 10^6 characters (the reported complexity should be O(N)).
// std::regex backtracks and recurses once per character: with libstdc++ its
// time grows about threefold with every character (some 10 ms at 10, 2 s at
// 15, minutes at 20), so it runs only up to 14 characters.  Both are
// measured at 8, 10, 12 and 14 characters for the ratio.

#include <benchmark/benchmark.h>

#include <regex>
#include <string>

#include "qocore/base/plat/Regex.h"

namespace {

constexpr const char* kPattern = "(a*)*b";

void BM_PlatRegexSearch(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  const plat::Regex re(kPattern, 0);
  for (auto _ : state) {
    bool found = re.search(text.data(), text.data() + text.size());
    benchmark::DoNotOptimize(found);
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PlatRegexSearch)
    ->DenseRange(8, 14, 2)
    ->RangeMultiplier(10)
    ->Range(100, 1000000)
    ->Complexity(benchmark::oN);

void BM_StdRegexSearch(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  const std::regex re(kPattern, std::regex::ECMAScript);
  for (auto _ : state) {
    bool found = std::regex_search(text, re);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_StdRegexSearch)->DenseRange(8, 14, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
