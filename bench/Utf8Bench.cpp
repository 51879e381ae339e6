// Repair of malformed UTF-8 (DString::makeValidUtf8): every malformed byte
// becomes U+FFFD, so the text is rebuilt in many small appends.  Outside
// data (stream strings, XML text, lines of files) reaches this, so its
// cost must grow linearly with the text: the complexity line should read
// O(N).

#include <benchmark/benchmark.h>

#include <string>

#include "qocore/base/plat/DString.h"

namespace {

// Valid letters with a malformed byte after every third: the worst mix,
// one replacement and one valid stretch per four bytes.
std::string malformedText(size_t size) {
  std::string text(size, 'a');
  for (size_t i = 3; i < size; i += 4) text[i] = static_cast<char>(0xFF);
  return text;
}

void BM_RepairMalformedUtf8(benchmark::State& state) {
  const std::string text = malformedText(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    plat::DString s;
    s.assign(text.c_str(), static_cast<int>(text.size()));
    benchmark::DoNotOptimize(s.makeValidUtf8());
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RepairMalformedUtf8)
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
