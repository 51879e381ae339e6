#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/appkit/Color.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Screen.h"
#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/NamedImageMac.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"
#include "testing/FileFixtures.h"

namespace ui {
namespace {

// The status images the program ships, as fixtures: one solid colour per
// file, so that a pixel tells which file was used.
struct Fixture {
  const char* file;
  uint32_t side;
  uint8_t r, g, b;
};
// clang-format off
constexpr Fixture kFixtures[] = {
    {"statusGreen",           16, 0x04, 0x8c, 0x00},
    {"statusGreen@2x",        32, 0x00, 0x80, 0x40},
    {"statusGreen_darkbg",    16, 0x80, 0xff, 0x80},
    {"statusGreen_darkbg@2x", 32, 0x40, 0xc0, 0x40},
    {"statusRed",             16, 0xc9, 0x00, 0x00},
    {"statusRed@2x",          32, 0xa0, 0x00, 0x00},
    {"statusYellow",              16, 0xe6, 0xa0, 0x00},
    {"statusYellow@2x",           32, 0xc0, 0x80, 0x00},
    {"statusYellow_darkbg@2x",    32, 0xff, 0xe0, 0x80},
};
// clang-format on

// The premultiplied RGBA pixel of a fixture's colour, red lowest.
uint32_t opaque(const char* file) {
  for (const Fixture& f : kFixtures)
    if (std::string(f.file) == file) return 0xff000000u | uint32_t{f.b} << 16 | uint32_t{f.g} << 8 | f.r;
  return 0;
}

class NamedImageMacTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new yarl_test::TempDir;
    for (const Fixture& f : kFixtures) {
      qoutil_test::TestPng png;
      png.width = png.height = f.side;
      png.colourType = PNG_COLOR_TYPE_PALETTE;
      png.palette = {png_color{f.r, f.g, f.b}};
      const std::vector<uint8_t> bytes = qoutil_test::encodePng(png);
      dir->write(std::string(f.file) + ".png", std::string(bytes.begin(), bytes.end()));
    }
  }
  static void TearDownTestSuite() {
    delete dir;
    dir = nullptr;
  }
  void SetUp() override {
    lookups = 0;
    previousDir = plat::resource_dir::set([] {
      ++lookups;
      return plat::CharArray(dir->c_str());
    });
    previousColors = plat::replaceSysColorsImplForTest(&colors);
  }
  void TearDown() override {
    appkit::inject::appearance(false);
    plat::replaceSysColorsImplForTest(previousColors);
    plat::resource_dir::set(previousDir);
  }

  // The first pixel of the image's bitmap; 0 without one.
  static uint32_t firstPixel(const plat::LinkedPtr<NamedImage>& image) {
    appkit::BitmapImageRep* rep = image->image->bitmap();
    return rep ? rep->pixelAt(0, 0) : 0;
  }

  static yarl_test::TempDir* dir;
  static int lookups;
  SysColorsMac colors;
  plat::SysColors* previousColors = nullptr;
  plat::resource_dir::DirFn previousDir = nullptr;
  objc::AutoreleasePool pool_;
};

yarl_test::TempDir* NamedImageMacTest::dir = nullptr;
int NamedImageMacTest::lookups = 0;

TEST_F(NamedImageMacTest, ImagesAreLoadedOncePerNameAndSize) {
  const long made = appkit::BitmapImageRep::madeCount();
  plat::LinkedPtr<NamedImage> natural = loadNamedImage("statusGreen", 0, 0);
  EXPECT_TRUE(natural->naturalSize);
  EXPECT_EQ(imageSize(natural.get()), (rfb::Size{16, 16}));
  EXPECT_EQ(firstPixel(natural), opaque("statusGreen"));
  EXPECT_EQ(appkit::BitmapImageRep::madeCount(), made + 1);

  // Again, and at its natural size in points: the same entry.
  EXPECT_EQ(loadNamedImage("statusGreen", 0, 0).get(), natural.get());
  EXPECT_EQ(loadNamedImage("statusGreen", 16, 16).get(), natural.get());
  // Another size is another entry, scaled from the nearest file.
  plat::LinkedPtr<NamedImage> big = loadNamedImage("statusGreen", 24, 24);
  EXPECT_NE(big.get(), natural.get());
  EXPECT_FALSE(big->naturalSize);
  EXPECT_EQ(imageSize(big.get()), (rfb::Size{24, 24}));
  EXPECT_EQ(appkit::BitmapImageRep::madeCount(), made + 2);
  EXPECT_EQ(loadNamedImage("statusGreen", 24, 24).get(), big.get());
}

TEST_F(NamedImageMacTest, AFailedRequestIsServedFromTheCacheToo) {
  plat::LinkedPtr<NamedImage> missing = loadNamedImage("statusMissing", 16, 16);
  EXPECT_EQ(imageSize(missing.get()), (rfb::Size{0, 0}));
  EXPECT_EQ(missing->image->bitmap(), nullptr);
  const int asked = lookups;
  EXPECT_GT(asked, 0);
  // Matched by name and requested size: the resources are not searched
  // again.
  EXPECT_EQ(loadNamedImage("statusMissing", 16, 16).get(), missing.get());
  EXPECT_EQ(lookups, asked);
  // A natural-size request is a request of its own.
  plat::LinkedPtr<NamedImage> natural = loadNamedImage("statusMissing", 0, 0);
  EXPECT_NE(natural.get(), missing.get());
  EXPECT_EQ(natural->image, missing->image) << "both hold the shared empty image";
  EXPECT_EQ(loadNamedImage("statusMissing", 0, 0).get(), natural.get());

  // No name: the empty image, no resource asked for.
  const int before = lookups;
  plat::LinkedPtr<NamedImage> none = loadNamedImage("", 0, 0);
  EXPECT_EQ(imageSize(none.get()), (rfb::Size{0, 0}));
  EXPECT_EQ(none->image, missing->image);
  EXPECT_EQ(lookups, before);
  EXPECT_EQ(imageSize(nullptr), (rfb::Size{0, 0}));
}

TEST_F(NamedImageMacTest, TheDarkAppearancePicksTheDarkVariantWhereThereIsOne) {
  EXPECT_EQ(firstPixel(loadNamedImage("statusGreen", 0, 0)), opaque("statusGreen"));
  appkit::inject::appearance(true);
  ASSERT_TRUE(plat::isDarkMode());
  plat::LinkedPtr<NamedImage> dark = loadNamedImage("statusGreen", 0, 0);
  EXPECT_EQ(firstPixel(dark), opaque("statusGreen_darkbg"));
  EXPECT_EQ(loadNamedImage("statusGreen", 0, 0).get(), dark.get());
  // Without a dark variant the plain image shows; the dark name's empty
  // entry stays, so the variant is not searched for again.
  EXPECT_EQ(firstPixel(loadNamedImage("statusRed", 0, 0)), opaque("statusRed"));
  const int asked = lookups;
  EXPECT_EQ(firstPixel(loadNamedImage("statusRed", 0, 0)), opaque("statusRed"));
  EXPECT_EQ(lookups, asked);

  appkit::inject::appearance(false);
  EXPECT_EQ(firstPixel(loadNamedImage("statusGreen", 0, 0)), opaque("statusGreen"));
}

// The display scale is taken once per process from the main screen, so
// the double-density case runs in a child whose screen is set first.
TEST_F(NamedImageMacTest, DoubleDensityScreensGetTheDoubleDensityFiles) {
  fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
      if (!ok) {
        std::fprintf(stderr, "failed: %s\n", what);
        ++failures;
      }
    };
    appkit::Screen::configure({appkit::DisplaySpec{appkit::makeRect(0, 0, 1440, 900), 2}});
    qoutil::setImageScale(static_cast<int>(appkit::Screen::mainScreen()->backingScaleFactor()));
    // Names no other test of this process asks for: the cache outlives
    // the fork.
    plat::LinkedPtr<NamedImage> yellow = loadNamedImage("statusYellow", 0, 0);
    check(imageSize(yellow.get()) == rfb::Size{16, 16}, "16 x 16 points");
    check(yellow->image->bitmap() && yellow->image->bitmap()->pixelsWide() == 32, "32 x 32 pixels");
    check(firstPixel(yellow) == opaque("statusYellow@2x"), "the @2x file");
    check(firstPixel(loadNamedImage("statusYellow", 16, 16)) == opaque("statusYellow@2x"), "16 points as 32 pixels");
    appkit::inject::appearance(true);
    check(firstPixel(loadNamedImage("statusYellow", 0, 0)) == opaque("statusYellow_darkbg@2x"), "the dark @2x file");

    // Drawn in a view at the screen's scale, one point covers 2 x 2 pixels.
    rfb::ManagedPixelBuffer screen(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 40, 40));
    rfb::fillRect(screen, screen.getRect(), 0);
    auto* context = new appkit::GraphicsContext(screen, 2, true);
    appkit::GraphicsContext::setCurrent(context);
    drawImageAt(yellow->image, appkit::Point{2, 2}, 1);
    appkit::GraphicsContext::setCurrent(nullptr);
    context->release();
    check(screen.getPixel(rfb::Point{4, 4}) == opaque("statusYellow@2x"), "drawn at (4, 4)");
    check(screen.getPixel(rfb::Point{35, 35}) == opaque("statusYellow@2x"), "drawn to (35, 35)");
    check(screen.getPixel(rfb::Point{36, 36}) == 0, "nothing at (36, 36)");
    std::fflush(stderr);
    _exit(failures == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace ui
