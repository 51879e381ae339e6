// Throughput of the streams against plain memcpy, measured in the same run.
//
// BM_Copy_*: a buffered copy of 256 KiB in items of a given size.  The
// stream writes the items into a memory output stream and reads them back
// through a memory input stream: two copies per byte, each through the
// stream's inline window.  BM_Copy_Memcpy makes the same two copies of the
// same items with memcpy, so the ratio of the rates is what the streams'
// bookkeeping costs per item.  The data stays in the cache, which shows the
// overheads best.
//
// BM_Chunk_*: 256 MiB through the pipe (MemIoStream) and a buffered output
// stream (BufferedOutStream) chunk by chunk: a writer copies a chunk in, a
// reader (or the receiving end) copies it out, and the two alternate.
// BM_Chunk_MemcpyTwice makes the same two copies of the same data into and
// out of a chunk-sized middle buffer.  At small chunks the ratio is what
// the streams' calls cost per chunk, which the inline windows keep down.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qocore/base/rdr/BufferedOutStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemIoStream.h"
#include "qocore/base/rdr/MemOutStream.h"

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

void BM_Chunk_MemcpyTwice(benchmark::State& state) {
  std::vector<uint8_t> middle(state.range(0)), dst(state.range(0));
  pushAll(state, [&](const uint8_t* data, int32_t len) {
    std::memcpy(middle.data(), data, len);
    benchmark::ClobberMemory();
    std::memcpy(dst.data(), middle.data(), len);
    benchmark::DoNotOptimize(dst.data());
  });
}

void BM_Chunk_MemIoStream(benchmark::State& state) {
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

// A buffered output stream whose receiver copies everything it is given
// into one destination, as the reader of the memcpy loop copies each chunk
// into the same `dst`: the copy out is the same copy in both.
class SinkOutStream : public rdr::BufferedOutStream {
 public:
  explicit SinkOutStream(size_t sinkSize) : sink_(sinkSize) {}

 protected:
  int32_t writeData(const uint8_t* buf, int32_t len, bool) override {
    if (static_cast<size_t>(len) > sink_.size()) sink_.resize(len);
    std::memcpy(sink_.data(), buf, len);
    benchmark::DoNotOptimize(sink_.data());
    return len;
  }

 private:
  std::vector<uint8_t> sink_;
};

void BM_Chunk_BufferedOutStream(benchmark::State& state) {
  // Room for the longest pass the stream makes: a chunk, or a chunk larger
  // than the stream's buffer in passes of the buffer.
  SinkOutStream out(std::max<size_t>(state.range(0), rdr::BufferedOutStream::kDefaultBufSize));
  pushAll(state, [&](const uint8_t* data, int32_t len) {
    out.writeBytes(data, len);
    out.flush();
  });
}

// ---- A buffered copy in items ----

constexpr int32_t kCopySize = 256 << 10;

std::vector<uint8_t> copySource() {
  std::vector<uint8_t> src(kCopySize);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
  return src;
}

void BM_Copy_Memcpy(benchmark::State& state) {
  const std::vector<uint8_t> src = copySource();
  std::vector<uint8_t> middle(kCopySize), dst(kCopySize);
  const int32_t item = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    for (int32_t off = 0; off < kCopySize; off += item) std::memcpy(middle.data() + off, src.data() + off, item);
    benchmark::ClobberMemory();
    for (int32_t off = 0; off < kCopySize; off += item) std::memcpy(dst.data() + off, middle.data() + off, item);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(state.iterations() * kCopySize);
}

void BM_Copy_BufferedStream(benchmark::State& state) {
  const std::vector<uint8_t> src = copySource();
  std::vector<uint8_t> dst(kCopySize);
  const int32_t item = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    rdr::MemOutStream out(kCopySize);
    rdr::OutStream& os = out;
    for (int32_t off = 0; off < kCopySize; off += item) os.writeBytes(src.data() + off, item);
    rdr::MemInStream in(out.data(), out.length());
    for (int32_t off = 0; off < kCopySize; off += item) in.readBytes(dst.data() + off, item);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(state.iterations() * kCopySize);
}

void itemSizes(benchmark::internal::Benchmark* b) {
  b->ArgName("item")->Arg(8)->Arg(256)->Arg(65536)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Copy_Memcpy)->Apply(itemSizes);
BENCHMARK(BM_Copy_BufferedStream)->Apply(itemSizes);

// ---- Chunks through the pipe and a buffered output stream ----

void chunkSizes(benchmark::internal::Benchmark* b) {
  b->ArgName("chunk")->Arg(1024)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Chunk_MemcpyTwice)->Apply(chunkSizes);
BENCHMARK(BM_Chunk_MemIoStream)->Apply(chunkSizes);
BENCHMARK(BM_Chunk_BufferedOutStream)->Apply(chunkSizes);

}  // namespace

BENCHMARK_MAIN();
