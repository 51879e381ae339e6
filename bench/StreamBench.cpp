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
// out of a chunk-sized middle buffer, and BM_Chunk_MemcpyThroughCall the
// same with the copy out behind a virtual call.  At small chunks the ratio
// is what the streams' calls cost per chunk, which the inline windows keep
// down.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
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

// Where the bytes lie.  On x86 processors a load from a few bytes past a
// pending store, counted modulo 4 KiB, waits for that store (4K aliasing),
// so a 1 KiB copy whose destination lies just past its source modulo a
// page can take half as long again.  Left to the allocator, that would
// decide the ratios: a receiver's buffer allocated right after the
// stream's own did.  So every row lays its copies out alike: the source
// lies at the same offset in a page as the buffer it is first copied into,
// and every copy out lands half a page past the buffer it copies from.
constexpr uintptr_t kPage = 4096;

uintptr_t pageOffset(const void* p) { return reinterpret_cast<uintptr_t>(p) % kPage; }

// size bytes that start `shift` past `at`, modulo a page.
class PlacedBuffer {
 public:
  PlacedBuffer(const void* at, uintptr_t shift, size_t size) : block_(new uint8_t[size + kPage]) {
    data_ = block_.get() + (pageOffset(at) + shift + kPage - pageOffset(block_.get())) % kPage;
  }
  uint8_t* data() const noexcept { return data_; }

 private:
  std::unique_ptr<uint8_t[]> block_;
  uint8_t* data_;
};

// Where the copies out of `from` land.
PlacedBuffer copyOutBuffer(const void* from, size_t size) { return PlacedBuffer(from, kPage / 2, size); }

// Calls push(source chunk, length) until kTotal bytes have gone through;
// the chunks are first copied into `firstCopyTo`.
template <typename Push>
void pushAll(benchmark::State& state, const void* firstCopyTo, Push push) {
  const PlacedBuffer source(firstCopyTo, 0, kSourceSize);
  uint8_t* src = source.data();
  for (int64_t i = 0; i < kSourceSize; ++i) src[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
  const int32_t chunk = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    for (int64_t done = 0; done < kTotal; done += chunk) {
      int64_t off = done % (kSourceSize - chunk);
      push(src + off, chunk);
    }
  }
  state.SetBytesProcessed(state.iterations() * kTotal);
}

void BM_Chunk_MemcpyTwice(benchmark::State& state) {
  std::vector<uint8_t> middle(state.range(0));
  const PlacedBuffer dst = copyOutBuffer(middle.data(), state.range(0));
  pushAll(state, middle.data(), [&](const uint8_t* data, int32_t len) {
    std::memcpy(middle.data(), data, len);
    benchmark::ClobberMemory();
    std::memcpy(dst.data(), middle.data(), len);
    benchmark::DoNotOptimize(dst.data());
  });
}

// The two copies again, the copy out behind a virtual call, as a stream's
// receiver is: what passing a chunk through any such interface costs at
// least, for comparison.
class Receiver {
 public:
  virtual ~Receiver() = default;
  virtual void take(const uint8_t* data, int32_t len) = 0;
};

class CopyingReceiver : public Receiver {
 public:
  CopyingReceiver(const void* from, size_t size) : dst_(copyOutBuffer(from, size)) {}
  void take(const uint8_t* data, int32_t len) override {
    std::memcpy(dst_.data(), data, len);
    benchmark::DoNotOptimize(dst_.data());
  }

 private:
  PlacedBuffer dst_;
};

void BM_Chunk_MemcpyThroughCall(benchmark::State& state) {
  std::vector<uint8_t> middle(state.range(0));
  CopyingReceiver copying(middle.data(), state.range(0));
  Receiver* receiver = &copying;
  benchmark::DoNotOptimize(receiver);  // a call the compiler cannot see through
  pushAll(state, middle.data(), [&](const uint8_t* data, int32_t len) {
    std::memcpy(middle.data(), data, len);
    benchmark::ClobberMemory();
    receiver->take(middle.data(), len);
  });
}

void BM_Chunk_MemIoStream(benchmark::State& state) {
  rdr::MemIoStream pipe(nullptr, -1, kPipeBufSize);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  // The reader keeps up, so the writer stays in its first buffer.
  const PlacedBuffer dst = copyOutBuffer(out.getPtr(), state.range(0));
  pushAll(state, out.getPtr(), [&](const uint8_t* data, int32_t len) {
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
  // The stream passes on at most its buffer (which never grows here, as
  // the sink takes everything at once) or one chunk at a time.
  explicit SinkOutStream(size_t chunk)
      : sinkSize_(std::max<size_t>(chunk, bufSize())), sink_(copyOutBuffer(start(), sinkSize_)) {}

 protected:
  int32_t writeData(const uint8_t* buf, int32_t len, bool) override {
    if (static_cast<size_t>(len) > sinkSize_) [[unlikely]]
      std::abort();
    std::memcpy(sink_.data(), buf, len);
    benchmark::DoNotOptimize(sink_.data());
    return len;
  }

 private:
  const size_t sinkSize_;
  const PlacedBuffer sink_;
};

void BM_Chunk_BufferedOutStream(benchmark::State& state) {
  SinkOutStream out(state.range(0));
  pushAll(state, out.getPtr(), [&](const uint8_t* data, int32_t len) {
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
BENCHMARK(BM_Chunk_MemcpyThroughCall)->Apply(chunkSizes);
BENCHMARK(BM_Chunk_MemIoStream)->Apply(chunkSizes);
BENCHMARK(BM_Chunk_BufferedOutStream)->Apply(chunkSizes);

}  // namespace

BENCHMARK_MAIN();
