// Images: a 4096 x 4096 PNG decoded through our loader against plain
// libpng reading the same bytes in the same run, and the decoded image
// scaled to 25 % against pixman doing the same.
//
// BM_Png_Decode4096_*: RGBA, 8 bits per channel, into 32-bit BGRA rows
//   (the same transformations on both sides; ours without premultiplying,
//   BM_Png_Decode4096Premultiplied_Ours with it, as named images load).
// BM_Scale_Quarter4096_*: 4096 x 4096 argb8888 to 1024 x 1024.  Ours
//   averages each 4 x 4 block exactly; pixman with a box-filtered separable
//   convolution, its equivalent of an area average (no subsampling, 4 x 4
//   taps per pixel).

#include <benchmark/benchmark.h>
#include <pixman.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "qocore/base/qoutil/ImageScaler.h"
#include "qocore/base/qoutil/PngFile.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelFormat.h"

namespace {

constexpr int kSide = 4096, kQuarter = kSide / 4;

void writeError(png_structp, png_const_charp message) {
  std::fprintf(stderr, "libpng: %s\n", message);
  std::abort();
}

void writeData(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// Soft gradients with some noise: compresses as photos and icons do, not
// as a flat colour does.  Made once.
const std::vector<uint8_t>& encodedImage() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> out;
    std::mt19937 rng(7);
    std::vector<uint8_t> row(size_t{kSide} * 4);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, writeError, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, writeData, flushNothing);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        uint8_t* p = &row[size_t(x) * 4];
        p[0] = uint8_t(x / 16 + rng() % 8);
        p[1] = uint8_t(y / 16 + rng() % 8);
        p[2] = uint8_t((x + y) / 32);
        p[3] = uint8_t(255 - (x ^ y) % 64);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
  }();
  return bytes;
}

void runOursDecode(benchmark::State& state, bool premultiply) {
  const std::vector<uint8_t>& bytes = encodedImage();
  rfb::ManagedPixelBuffer pb(rfb::PixelFormat::argb8888Host(), rfb::Rect(0, 0, kSide, kSide));
  // Touched before timing, as the reference's zeroed vector is.
  int32_t stride = 0;
  std::memset(pb.getPixelsRW(pb.getRect(), &stride), 0, pb.sizeBytes());
  for (auto _ : state) {
    qoutil::PngFile file(uint32_t(bytes.size()), bytes.data(), premultiply, "bench");
    file.load(&pb, {0, 0});
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void BM_Png_Decode4096_Ours(benchmark::State& state) { runOursDecode(state, false); }
void BM_Png_Decode4096Premultiplied_Ours(benchmark::State& state) { runOursDecode(state, true); }

struct Reader {
  const std::vector<uint8_t>* bytes;
  size_t at;
};

void readData(png_structp png, png_bytep dest, size_t length) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (length > r->bytes->size() - r->at) png_error(png, "short");
  std::memcpy(dest, r->bytes->data() + r->at, length);
  r->at += length;
}

void BM_Png_Decode4096_Libpng(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = encodedImage();
  std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4);
  for (auto _ : state) {
    Reader reader{&bytes, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_set_read_fn(png, &reader, readData);
    png_read_info(png, info);
    png_set_bgr(png);
    png_read_update_info(png, info);
    for (int y = 0; y < kSide; ++y) png_read_row(png, &pixels[size_t(y) * kSide * 4], nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

// The decoded image, premultiplied, as the scaler sees named images.
rfb::ManagedPixelBuffer& decodedImage() {
  static rfb::ManagedPixelBuffer* pb = [] {
    const std::vector<uint8_t>& bytes = encodedImage();
    qoutil::PngFile file(uint32_t(bytes.size()), bytes.data(), true, "bench");
    return new rfb::ManagedPixelBuffer(&file);
  }();
  return *pb;
}

void BM_Scale_Quarter4096_Ours(benchmark::State& state) {
  rfb::ManagedPixelBuffer& src = decodedImage();
  rfb::ManagedPixelBuffer dst(src.getPf(), rfb::Rect(0, 0, kQuarter, kQuarter));
  qoutil::Scaler scaler;
  scaler.coords_.dstSz = {kQuarter, kQuarter};
  scaler.setSource(&src, true);
  int32_t stride = 0;
  uint8_t* out = dst.getPixelsRW(dst.getRect(), &stride);
  for (auto _ : state) {
    scaler.getImage(out, dst.getRect(), stride);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

void BM_Scale_Quarter4096_Pixman(benchmark::State& state) {
  rfb::ManagedPixelBuffer& src = decodedImage();
  int32_t stride = 0;
  auto* bits = reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(src.getPixelsR(src.getRect(), &stride)));
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSide, kSide, bits, stride * 4);
  std::vector<uint32_t> out(size_t{kQuarter} * kQuarter);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, kQuarter, kQuarter, out.data(), kQuarter * 4);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_int_to_fixed(4), pixman_int_to_fixed(4));
  pixman_image_set_transform(s, &t);
  int n = 0;
  pixman_fixed_t* params = pixman_filter_create_separable_convolution(
      &n, pixman_int_to_fixed(4), pixman_int_to_fixed(4), PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE,
      PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 0, 0);
  pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
  std::free(params);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kQuarter, kQuarter);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

BENCHMARK(BM_Png_Decode4096_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png_Decode4096Premultiplied_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png_Decode4096_Libpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale_Quarter4096_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale_Quarter4096_Pixman)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
