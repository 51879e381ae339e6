#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/appkit/Color.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/UserDefaults.h"
#include "qocore/base/plat/Colors.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace ui {
namespace {

class SysColorsMacTest : public ::testing::Test {
 protected:
  void SetUp() override { previous = plat::replaceSysColorsImplForTest(&colors); }
  void TearDown() override {
    appkit::inject::appearance(false);
    plat::replaceSysColorsImplForTest(previous);
  }
  static plat::Rgb rgb(uint32_t v) {
    return plat::Rgb{int32_t(v >> 16 & 0xff), int32_t(v >> 8 & 0xff), int32_t(v & 0xff)};
  }

  SysColorsMac colors;
  plat::SysColors* previous = nullptr;
  objc::AutoreleasePool pool_;
};

TEST_F(SysColorsMacTest, SystemNamesFollowTheAppearance) {
  struct Case {
    const char* name;
    uint32_t light;
    uint32_t dark;
  };
  // clang-format off
  const Case cases[] = {
      {"contentBg",    0xffffff, 0x1e1e1e},
      {"contentText",  0x000000, 0xffffff},
      {"disabledText", 0xbfbfbf, 0x565656},
      {"buttonBg",     0xececec, 0x323232},
      {"buttonText",   0x262626, 0xdddddd},
      {"selectedBg",   0xb3d7ff, 0x3f638b},
      {"selectedText", 0x000000, 0xffffff},
      {"inactiveBg",   0xececec, 0x323232},
      {"linkText",     0x0068da, 0x419cff},
  };
  // clang-format on
  for (bool dark : {false, true}) {
    appkit::inject::appearance(dark);
    EXPECT_EQ(colors.isDark(), dark);
    EXPECT_EQ(plat::isDarkMode(), dark);
    for (const Case& c : cases) {
      plat::Rgb out;
      EXPECT_TRUE(colors.getColor(c.name, out)) << c.name;
      EXPECT_EQ(out, rgb(dark ? c.dark : c.light)) << c.name << " dark " << dark;
      // The core asks the provider first.
      EXPECT_EQ(plat::getColorWithFallback(c.name, nullptr), out) << c.name;
      EXPECT_EQ(rgbFromColour(getColour(c.name)), out) << c.name;
    }
  }
  // Exact names only; others leave the triple alone.
  for (const char* other : {"ContentBg", "contentBg ", "statusGreen", "", static_cast<const char*>(nullptr)}) {
    plat::Rgb out{1, 2, 3};
    EXPECT_FALSE(colors.getColor(other, out)) << (other ? other : "null");
    EXPECT_EQ(out, (plat::Rgb{1, 2, 3}));
  }
}

TEST_F(SysColorsMacTest, OnlyTheDarkStyleIsDark) {
  auto& defaults = appkit::UserDefaults::standard();
  const std::pair<const char*, bool> cases[] = {
      {nullptr, false}, {"Dark", true}, {"dark", false}, {"Light", false}, {"Dark ", false}, {"", false},
  };
  for (auto [value, dark] : cases) {
    defaults.setString("AppleInterfaceStyle", value);
    EXPECT_EQ(colors.isDark(), dark) << (value ? value : "absent");
  }
  defaults.removeObjectForKey("AppleInterfaceStyle");
}

TEST_F(SysColorsMacTest, NamesResolveThroughTheSystemThenTheCoreThenTheFallback) {
  appkit::Color* red = getColour("#ff0000");
  ASSERT_NE(red, nullptr);
  EXPECT_FALSE(red->isSystemColor());
  double r, g, b, a;
  red->getRed(&r, &g, &b, &a);
  EXPECT_EQ(r, 1.0);
  EXPECT_EQ(g, 0.0);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(rgbFromColour(getColour("statusGreen")), rgb(0x048c00));
  EXPECT_EQ(getColour("contentText"), appkit::Color::textColor());
  EXPECT_EQ(getColour("noSuchColour"), nullptr);
  EXPECT_EQ(getColour(nullptr), nullptr);
  EXPECT_EQ(getColour("noSuchColour", "contentBg"), appkit::Color::textBackgroundColor());
  EXPECT_EQ(getColour("buttonBg", "contentBg"), appkit::Color::windowBackgroundColor());
  EXPECT_EQ(getColour("noSuchColour", "noneEither"), nullptr);

  // Every triple survives the trip through a native colour.
  for (int v = 0; v < 256; ++v) {
    const plat::Rgb in{v, 255 - v, v / 2};
    EXPECT_EQ(rgbFromColour(colourFromRgb(in)), in) << v;
  }
  EXPECT_EQ(rgbFromColour(nullptr), plat::Rgb{});
}

TEST_F(SysColorsMacTest, RoundedFillsPaintInTheColour) {
  rfb::ManagedPixelBuffer pb(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 20, 20));
  rfb::fillRect(pb, pb.getRect(), 0);
  auto* context = new appkit::GraphicsContext(pb, 1, true);
  appkit::GraphicsContext::setCurrent(context);
  fillRoundedRect(2, 2, 18, 12, colourFromRgb(plat::Rgb{0, 0, 255}), 4);
  fillRoundedRect(appkit::makeRect(2, 14, 4, 4), getColour("#00ff00"), 0);
  appkit::GraphicsContext::setCurrent(nullptr);
  context->release();
  EXPECT_EQ(pb.getPixel(rfb::Point{10, 7}), 0xffff0000u);
  EXPECT_EQ(pb.getPixel(rfb::Point{2, 2}), 0u) << "a rounded corner";
  EXPECT_EQ(pb.getPixel(rfb::Point{17, 11}), 0u) << "a rounded corner";
  EXPECT_EQ(pb.getPixel(rfb::Point{18, 7}), 0u);
  EXPECT_EQ(pb.getPixel(rfb::Point{2, 14}), 0xff00ff00u) << "a square corner";
  EXPECT_EQ(pb.getPixel(rfb::Point{5, 17}), 0xff00ff00u);
}

// Installing is for the rest of the process, so it happens in a child.
bool installAndLook() {
  installSysColorsMac();
  installSysColorsMac();
  plat::Rgb out;
  bool ok = plat::getColor("contentBg", out) && out == plat::Rgb{255, 255, 255} && !plat::isDarkMode();
  appkit::inject::appearance(true);
  return ok && plat::isDarkMode() && plat::getColor("contentBg", out) && out == plat::Rgb{30, 30, 30};
}

TEST(SysColorsMacInstallTest, TheInstalledProviderAnswersForTheRestOfTheProcess) {
  EXPECT_EXIT(std::exit(installAndLook() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ui
