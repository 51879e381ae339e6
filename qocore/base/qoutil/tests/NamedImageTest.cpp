#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/qoutil/ImageScaler.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/base/qoutil/PngFile.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using qoutil::getNamedImage;
using qoutil::NamedImagePixelBuffer;
using rfb::ManagedPixelBuffer;
using rfb::Size;
using yarl_test::LogRecord;

// Image resources in a folder of their own, found through the resource
// lookup the program uses; every lookup that misses the resource cache
// asks for the folder, which the fixture counts.
class NamedImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = dir.path();
    lookups = 0;
    previous = plat::resource_dir::set([] {
      ++lookups;
      return plat::CharArray(folder.c_str());
    });
    qoutil::setImageScale(1);
    previousColors = plat::replaceSysColorsImplForTest(&appearance);
  }
  void TearDown() override {
    plat::resource_dir::set(previous);
    qoutil::setImageScale(1);
    plat::ppmm.unsetParam(kPriority);
    plat::replaceSysColorsImplForTest(previousColors);
  }

  static constexpr int kPriority = 1000;

  // The appearance as the UI backend reports it.
  class Appearance : public plat::SysColors {
   public:
    bool getColor(const char*, plat::Rgb&) override { return false; }
    bool isDark() override { return dark; }
    bool dark = false;
  };

  // "<name>.png" of w x h with straight alpha.
  std::vector<uint8_t> addImage(const std::string& name, uint32_t w, uint32_t h) {
    qoutil_test::TestPng t;
    t.width = w;
    t.height = h;
    t.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    std::vector<uint8_t> bytes = qoutil_test::encodePng(t);
    addFile(name, bytes);
    return bytes;
  }
  void addFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    dir.write(name + ".png", std::string(bytes.begin(), bytes.end()));
  }

  // The pixels an image must show: the file decoded with premultiplied
  // alpha, scaled to the size when that differs.
  static std::vector<uint32_t> expected(const std::vector<uint8_t>& bytes, Size size) {
    qoutil::PngFile file(uint32_t(bytes.size()), bytes.data(), true, "expected");
    ManagedPixelBuffer decoded(&file);
    ManagedPixelBuffer out(decoded.getPf(), rfb::Rect(0, 0, size.width, size.height));
    qoutil::Scaler s;
    s.coords_.dstSz = {size.width, size.height};
    s.setSource(&decoded, true);
    int32_t stride = 0;
    s.getImage(out.getPixelsRW(out.getRect(), &stride), out.getRect(), stride);
    return pixels(out);
  }
  static std::vector<uint32_t> pixels(const ManagedPixelBuffer& pb) {
    std::vector<uint32_t> v;
    for (int32_t y = pb.getRect().y1; y < pb.getRect().y2; ++y)
      for (int32_t x = pb.getRect().x1; x < pb.getRect().x2; ++x) v.push_back(pb.getPixel({x, y}));
    return v;
  }
  static Size sizeOf(const NamedImagePixelBuffer& pb) { return {pb.width(), pb.height()}; }

  yarl_test::TempDir dir;
  static inline std::string folder;
  static inline int lookups = 0;
  plat::resource_dir::DirFn previous = nullptr;
  Appearance appearance;
  plat::SysColors* previousColors = nullptr;
};

// Which file serves a request, by display scale and size.
TEST_F(NamedImageTest, ResolutionPicksTheVariant) {
  const auto plain = addImage("res_a", 20, 10);
  const auto plain32 = addImage("res_b", 32, 32);
  const auto double64 = addImage("res_b@2x", 64, 64);
  const auto double40 = addImage("res_a@2x", 40, 20);
  const auto exact = addImage("res_b48x48", 48, 48);
  const auto plainOnly = addImage("res_c", 32, 32);

  struct Case {
    const char* label;
    int g;
    const char* name;
    Size request, want;
    const std::vector<uint8_t>* file;
  } cases[] = {
      {"natural, S 4: the plain file", 1, "res_a", {0, 0}, {20, 10}, &plain},
      {"natural, S 8: the double-density file", 2, "res_a", {0, 0}, {40, 20}, &double40},
      {"explicit, larger plain file: scaled down", 1, "res_c", {16, 16}, {16, 16}, &plainOnly},
      {"explicit, narrower plain file: the @2x at its size", 1, "res_b", {64, 64}, {64, 64}, &double64},
      {"explicit, between: the @2x scaled down", 1, "res_b", {40, 40}, {40, 40}, &double64},
      {"explicit, no @2x: the plain file scaled up", 1, "res_c", {40, 20}, {40, 20}, &plainOnly},
      {"explicit, an exact file", 1, "res_b", {48, 48}, {48, 48}, &exact},
      {"explicit, plain file's own size", 2, "res_b", {32, 32}, {32, 32}, &plain32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    qoutil::setImageScale(c.g);
    const NamedImagePixelBuffer image(c.name, c.request, true);
    EXPECT_EQ(sizeOf(image), c.want);
    EXPECT_EQ(image.isDefaultSize(), c.request == Size{});
    EXPECT_EQ(pixels(image), expected(*c.file, c.want));
  }
}

// With ppmm 6 (S = 6) the natural size is 1.5 times the plain file's: an
// exact-size file serves it when present, else the plain file scaled up.
TEST_F(NamedImageTest, UnitsPerMillimetreScaleTheNaturalSize) {
  const auto plain = addImage("mm_a", 20, 10);
  addImage("mm_b", 20, 10);
  const auto exact = addImage("mm_b30x15", 30, 15);
  addImage("mm_c", 20, 10);
  addImage("mm_c30x15", 30, 16);
  ASSERT_TRUE(plat::ppmm.setIntValue(6, kPriority));
  const NamedImagePixelBuffer scaledUp("mm_a", {0, 0}, true);
  EXPECT_EQ(sizeOf(scaledUp), (Size{30, 15}));
  EXPECT_EQ(pixels(scaledUp), expected(plain, {30, 15}));
  const NamedImagePixelBuffer exactFile("mm_b", {0, 0}, true);
  EXPECT_EQ(pixels(exactFile), expected(exact, {30, 15}));
  yarl_test::LogCapture capture;
  EXPECT_TRUE(NamedImagePixelBuffer("mm_c", {0, 0}, true).getRect().isEmpty());
  EXPECT_EQ(capture.from("NamedImagePixelBuffer"),
            (std::vector<LogRecord>{
                {"NamedImagePixelBuffer", plat::LogSrc::kError, "[NamedImageBadSize] Badly sized image 'mm_c30x15'"}}));
}

// In the dark appearance a "_darkbg" variant wins; without one the plain
// image serves, and the failed dark attempt leaves no log line.
TEST_F(NamedImageTest, ThemedImagesFollowTheAppearance) {
  const auto light = addImage("theme_a", 8, 8);
  const auto dark = addImage("theme_a_darkbg", 8, 8);
  const auto only = addImage("theme_b", 8, 8);
  yarl_test::LogCapture capture;
  EXPECT_EQ(pixels(*qoutil::NamedImageLoader::loadThemed("theme_a", {0, 0})), expected(light, {8, 8}));
  appearance.dark = true;
  EXPECT_EQ(pixels(*qoutil::NamedImageLoader::loadThemed("theme_a", {0, 0})), expected(dark, {8, 8}));
  EXPECT_EQ(pixels(*qoutil::NamedImageLoader::loadThemed("theme_a", {4, 4})), expected(dark, {4, 4}));
  EXPECT_EQ(pixels(*qoutil::NamedImageLoader::loadThemed("theme_b", {4, 4})), expected(only, {4, 4}));
  EXPECT_EQ(capture.from("NamedImagePixelBuffer"), std::vector<LogRecord>{});

  // The missing dark variant is looked up once per size.
  const int before = lookups;
  const auto again = qoutil::NamedImageLoader::loadThemed("theme_b", {4, 4});
  EXPECT_EQ(lookups, before);
  EXPECT_EQ(again.get(), getNamedImage("theme_b", {4, 4}, true).get());
}

// Variants that disagree, and sizes a buffer cannot take, are logged as
// errors whatever the report flag; the image is empty.
TEST_F(NamedImageTest, BadSizesAreLoggedAsErrors) {
  addImage("bad_a", 20, 10);
  addImage("bad_a@2x", 41, 20);
  addImage("bad_b", 16, 16);
  addImage("bad_b30x30", 31, 30);
  addImage("bad_c", 20000, 1);
  yarl_test::LogCapture capture;
  qoutil::setImageScale(2);
  EXPECT_TRUE(NamedImagePixelBuffer("bad_a", {0, 0}, false).getRect().isEmpty());
  qoutil::setImageScale(1);
  EXPECT_TRUE(NamedImagePixelBuffer("bad_b", {30, 30}, false).getRect().isEmpty());
  qoutil::setImageScale(2);
  EXPECT_TRUE(NamedImagePixelBuffer("bad_c", {0, 0}, false).getRect().isEmpty());
  EXPECT_TRUE(NamedImagePixelBuffer("bad_b", {40000, 16}, false).getRect().isEmpty());
  const int error = plat::LogSrc::kError;
  EXPECT_EQ(
      capture.from("NamedImagePixelBuffer"),
      (std::vector<LogRecord>{
          {"NamedImagePixelBuffer", error, "[NamedImageBadSize] Badly sized image 'bad_a': @2x/@1x images differ"},
          {"NamedImagePixelBuffer", error, "[NamedImageBadSize] Badly sized image 'bad_b30x30'"},
          {"NamedImagePixelBuffer", error, "[NamedImageBadSize] Badly sized image 'bad_c': 40000x2"},
          {"NamedImagePixelBuffer", error, "[NamedImageBadSize] Badly sized image 'bad_b': 40000x16"},
      }));
}

// Missing and broken images are empty, logged at debug level only when
// asked to report.
TEST_F(NamedImageTest, MissingAndBrokenImages) {
  addFile("broken_a", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0});
  addImage("broken_b", 4, 4);
  yarl_test::LogCapture capture;
  EXPECT_TRUE(NamedImagePixelBuffer("missing_a", {0, 0}, true).getRect().isEmpty());
  EXPECT_TRUE(NamedImagePixelBuffer("missing_a", {8, 8}, true).getRect().isEmpty());
  EXPECT_TRUE(NamedImagePixelBuffer("missing_a", {8, 8}, false).getRect().isEmpty());
  EXPECT_TRUE(NamedImagePixelBuffer("broken_a", {0, 0}, true).getRect().isEmpty());
  EXPECT_TRUE(NamedImagePixelBuffer(nullptr, {0, 0}, true).getRect().isEmpty());
  EXPECT_TRUE(NamedImagePixelBuffer("", {0, 0}, true).getRect().isEmpty());
  const int debug = plat::LogSrc::kDebug;
  EXPECT_EQ(capture.from("NamedImagePixelBuffer"),
            (std::vector<LogRecord>{
                {"NamedImagePixelBuffer", debug, "[NamedImageNotFound] Bad image name 'missing_a'"},
                {"NamedImagePixelBuffer", debug, "[NamedImageNotFound] Bad image name 'missing_a'"},
                {"NamedImagePixelBuffer", debug, "[PngException] Bad PNG data: broken_a"},
            }));
}

// The cache answers a repeated request without touching the resources; a
// missing image is looked up once per size.
TEST_F(NamedImageTest, CacheServesRepeatedRequests) {
  addImage("cache_a", 12, 6);
  const auto natural = getNamedImage("cache_a", {0, 0}, true);
  const auto small = getNamedImage("cache_a", {6, 3}, true);
  EXPECT_NE(natural.get(), small.get());
  const int before = lookups;
  EXPECT_EQ(getNamedImage("cache_a", {0, 0}, true).get(), natural.get());
  EXPECT_EQ(getNamedImage("cache_a", {6, 3}, true).get(), small.get());
  // An image of exactly the size asked serves an explicit request.
  EXPECT_EQ(getNamedImage("cache_a", {12, 6}, true).get(), natural.get());
  EXPECT_EQ(lookups, before);

  const auto missing = getNamedImage("cache_missing", {16, 16}, false);
  EXPECT_TRUE(missing->getRect().isEmpty());
  const int afterFirst = lookups;
  EXPECT_GT(afterFirst, before);
  EXPECT_EQ(getNamedImage("cache_missing", {16, 16}, false).get(), missing.get());
  EXPECT_EQ(lookups, afterFirst);
  EXPECT_NE(getNamedImage("cache_missing", {24, 24}, false).get(), missing.get());
  EXPECT_GT(lookups, afterFirst);
}

}  // namespace
