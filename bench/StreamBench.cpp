// Throughput of the in-memory streams against plain memcpy.
//
// Each benchmark pushes 256 MiB through two copies, chunk by chunk: a writer
// copies a chunk in, a reader (or the receiving end) copies it out, and the
// two alternate.  The memcpy loop makes the same two copies of the same
// data into and out of a chunk-sized middle buffer, so the ratio of the
// rates is what the streams' bookkeeping costs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qocore/base/rdr/BufferedOutStream.h"
#include "qocore/base/rdr/MemIoStream.h"

namespace {

constexpr int64_t kTotal = 256 << 20;
// The source cycles through this much data, so every chunk is different
// bytes but all of it stays in the cache, which shows the overheads best.
constexpr int64_t kSourceSize = 1 << 20;
// The buffer size the TLS layer gives its pipes.
constexpr int32_t kPipeBufSize = 10240;

std::vector<uint8_t> makeSource() {
  std::vector<uint8_t> src(kSourceSize);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
  return src;
}

// Calls push(source chunk, length) until kTotal bytes have gone through.
template <typename Push>
void pushAll(benchmark::State& state, Push push) {
  const std::vector<uint8_t> src = makeSource();
  const int32_t chunk = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    for (int64_t done = 0; done < kTotal; done += chunk) {
      int64_t off = done % (kSourceSize - chunk);
      push(src.data() + off, chunk);
    }
  }
  state.SetBytesProcessed(state.iterations() * kTotal);
}

void BM_MemcpyTwice(benchmark::State& state) {
  std::vector<uint8_t> middle(state.range(0)), dst(state.range(0));
  pushAll(state, [&](const uint8_t* data, int32_t len) {
    std::memcpy(middle.data(), data, len);
    benchmark::ClobberMemory();
    std::memcpy(dst.data(), middle.data(), len);
    benchmark::DoNotOptimize(dst.data());
  });
}

void BM_MemIoStream(benchmark::State& state) {
  rdr::MemIoStream pipe(nullptr, -1, kPipeBufSize);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  std::vector<uint8_t> dst(state.range(0));
  pushAll(state, [&](const uint8_t* data, int32_t len) {
    out.writeBytes(data, len);
    out.flush();
    in.readBytes(dst.data(), len);
    in.setCheckpoint();  // lets the pipe reuse the buffers just read
    benchmark::DoNotOptimize(dst.data());
  });
}

// A buffered output stream whose receiver copies everything it is given.
class SinkOutStream : public rdr::BufferedOutStream {
 public:
  explicit SinkOutStream(size_t sinkSize) : sink_(sinkSize) {}

 protected:
  int32_t writeData(const uint8_t* buf, int32_t len, bool) override {
    if (at_ + len > sink_.size()) at_ = 0;
    std::memcpy(sink_.data() + at_, buf, len);
    at_ += len;
    benchmark::DoNotOptimize(sink_.data());
    return len;
  }

 private:
  std::vector<uint8_t> sink_;
  size_t at_ = 0;
};

void BM_BufferedOutStream(benchmark::State& state) {
  // At least one chunk, and more than any one pass of the stream's buffer.
  SinkOutStream out(std::max<size_t>(state.range(0), 4 * rdr::BufferedOutStream::kDefaultBufSize));
  pushAll(state, [&](const uint8_t* data, int32_t len) {
    out.writeBytes(data, len);
    out.flush();
  });
}

void chunkSizes(benchmark::internal::Benchmark* b) {
  b->ArgName("chunk")->Arg(1024)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_MemcpyTwice)->Apply(chunkSizes);
BENCHMARK(BM_MemIoStream)->Apply(chunkSizes);
BENCHMARK(BM_BufferedOutStream)->Apply(chunkSizes);

}  // namespace

BENCHMARK_MAIN();
