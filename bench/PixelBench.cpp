// Pixel translation and compositing on a 1920 x 1080 frame against pixman
// doing the same work on the same pixels in the same run.
//
// BM_Pixel_CopyEqual_*: equal formats (rgb888 / x8r8g8b8), a plain copy.
// BM_Pixel_Over_*: premultiplied argb8888 OVER argb8888 (a8r8g8b8); the
//   two give identical pixels (the unit tests check it bit for bit).
// BM_Pixel_To565_*: rgb888 into rgb565 (x8r8g8b8 into r5g6b5).
// BM_Pixel_From565_*: rgb565 into rgb888.
// BM_Pixel_SwapRB_*: rgb888 into bgr888 (x8r8g8b8 into x8b8g8r8).
// The rounding of the 16-bit conversions differs (ours rounds, pixman
// truncates), the work per pixel does not.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <random>
#include <vector>

#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/PixelTrans.h"

namespace {

using rfb::PixelFormat;

constexpr int kW = 1920, kH = 1080;

// Premultiplied a8r8g8b8 pixels with every alpha, opaque and clear ones
// common.
std::vector<uint32_t> premultipliedFrame(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> v(size_t{kW} * kH);
  for (uint32_t& p : v) {
    uint32_t a = rng() % 4 == 0 ? (rng() % 2 ? 255 : 0) : rng() % 256;
    auto ch = [&] { return a ? static_cast<uint32_t>(rng() % (a + 1)) : 0u; };
    p = a << 24 | ch() << 16 | ch() << 8 | ch();
  }
  return v;
}

// Our side: one buffer over each frame, transRect per iteration.
void runOurs(benchmark::State& state, const PixelFormat& from, const PixelFormat& to, rfb::CompositeOp op) {
  std::vector<uint32_t> src = premultipliedFrame(1), dst = premultipliedFrame(2);
  rfb::FullFramePixelBuffer s(from, rfb::Rect(0, 0, kW, kH), nullptr, reinterpret_cast<uint8_t*>(src.data()), 0);
  // 16-bit frames use half of their vector; their stride is the width.
  rfb::FullFramePixelBuffer d(to, rfb::Rect(0, 0, kW, kH), nullptr, reinterpret_cast<uint8_t*>(dst.data()), 0);
  for (auto _ : state) {
    rfb::transRect(s, {0, 0}, d, d.getRect(), op);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

void runPixman(benchmark::State& state, pixman_format_code_t from, pixman_format_code_t to, pixman_op_t op) {
  std::vector<uint32_t> src = premultipliedFrame(1), dst = premultipliedFrame(2);
  auto stride = [](pixman_format_code_t f) { return kW * PIXMAN_FORMAT_BPP(f) / 8; };
  pixman_image_t* s = pixman_image_create_bits(from, kW, kH, src.data(), stride(from));
  pixman_image_t* d = pixman_image_create_bits(to, kW, kH, dst.data(), stride(to));
  for (auto _ : state) {
    pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_Pixel_CopyEqual_Ours(benchmark::State& state) {
  runOurs(state, PixelFormat::rgb888(), PixelFormat::rgb888(), rfb::opCopy);
}
void BM_Pixel_CopyEqual_Pixman(benchmark::State& state) {
  runPixman(state, PIXMAN_x8r8g8b8, PIXMAN_x8r8g8b8, PIXMAN_OP_SRC);
}
void BM_Pixel_Over_Ours(benchmark::State& state) {
  runOurs(state, PixelFormat::argb8888(), PixelFormat::argb8888(), rfb::opOver);
}
void BM_Pixel_Over_Pixman(benchmark::State& state) {
  runPixman(state, PIXMAN_a8r8g8b8, PIXMAN_a8r8g8b8, PIXMAN_OP_OVER);
}
void BM_Pixel_To565_Ours(benchmark::State& state) {
  runOurs(state, PixelFormat::rgb888(), PixelFormat::rgb565(), rfb::opCopy);
}
void BM_Pixel_To565_Pixman(benchmark::State& state) { runPixman(state, PIXMAN_x8r8g8b8, PIXMAN_r5g6b5, PIXMAN_OP_SRC); }
void BM_Pixel_From565_Ours(benchmark::State& state) {
  runOurs(state, PixelFormat::rgb565(), PixelFormat::rgb888(), rfb::opCopy);
}
void BM_Pixel_From565_Pixman(benchmark::State& state) {
  runPixman(state, PIXMAN_r5g6b5, PIXMAN_x8r8g8b8, PIXMAN_OP_SRC);
}
void BM_Pixel_SwapRB_Ours(benchmark::State& state) {
  runOurs(state, PixelFormat::rgb888(), PixelFormat::bgr888(), rfb::opCopy);
}
void BM_Pixel_SwapRB_Pixman(benchmark::State& state) {
  runPixman(state, PIXMAN_x8r8g8b8, PIXMAN_x8b8g8r8, PIXMAN_OP_SRC);
}

BENCHMARK(BM_Pixel_CopyEqual_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_CopyEqual_Pixman)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_Over_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_Over_Pixman)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_To565_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_To565_Pixman)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_From565_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_From565_Pixman)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_SwapRB_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pixel_SwapRB_Pixman)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
