#include <gtest/gtest.h>

#include <memory>

#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuImageMac.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"

namespace mui {
namespace {

class MuImageMacTest : public testing::Test {
 protected:
  void SetUp() override {
    yarl_test::MuTestBackend::install();
    appkit::Application::reset();
    muDialogFactory = MuDialogMac::create;
    muImageFactory = MuImageMac::create;
  }
  void TearDown() override {
    dialog_.reset();
    yarl_test::MuTestBackend::fillHooks();
    appkit::Application::reset();
  }
  MuImageMac* image(const char* name) {
    dialog_.reset(MuDialog::create("dlg", "Title", {300, 200}, 0, nullptr, nullptr));
    return static_cast<MuImageMac*>(MuImage::create(dialog_.get(), "i", name, {0, 0}));
  }
  static rfb::ManagedPixelBuffer* pixels(int w, int h) {
    return new rfb::ManagedPixelBuffer(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, w, h));
  }

  objc::AutoreleasePool pool_;
  std::unique_ptr<MuDialog> dialog_;
};

TEST_F(MuImageMacTest, AnImageMeasuresInPointsOfTheDisplay) {
  for (int scale : {1, 2}) {
    SCOPED_TRACE(scale);
    appkit::inject::mainDisplay(1440, 900, scale);
    MuImageMac* i = image(nullptr);
    i->setPixelImage(pixels(64, 48), true);
    EXPECT_EQ(i->imageSize(), (Size{64 / scale, 48 / scale}));
    EXPECT_EQ(i->widthForHeight(0), 64 / scale);
    EXPECT_EQ(i->heightForWidth(0), 48 / scale);
    ASSERT_NE(i->imageView()->image(), nullptr);
    EXPECT_EQ(nativeViewOf(i), i->imageView());
    EXPECT_EQ(i->imageView()->imageScaling(), 2);
  }
}

TEST_F(MuImageMacTest, WithoutAnImageItMeasuresNothingAndShowsNothing) {
  appkit::inject::mainDisplay(1440, 900, 1);
  MuImageMac* i = image("no-such-image");
  EXPECT_STREQ(i->image(), "no-such-image");
  EXPECT_EQ(i->imageSize(), (Size{0, 0}));
  EXPECT_EQ(i->imageView()->image(), nullptr);
  EXPECT_FALSE(i->setImageName("still-none", {16, 16}));
  EXPECT_STREQ(i->image(), "still-none");
}

TEST_F(MuImageMacTest, AHandedOverImageReplacesTheNameAndIsDeletedWithTheNext) {
  appkit::inject::mainDisplay(1440, 900, 1);
  MuImageMac* i = image("no-such-image");
  rfb::ManagedPixelBuffer* kept = pixels(8, 8);
  i->setPixelImage(kept, false);
  EXPECT_EQ(i->image(), nullptr);
  EXPECT_EQ(i->imageSize(), (Size{8, 8}));
  // Owned: freed on replacement (the sanitizer would see a leak otherwise).
  i->setPixelImage(pixels(4, 4), true);
  i->setPixelImage(pixels(2, 2), true);
  EXPECT_EQ(i->imageSize(), (Size{2, 2}));
  delete kept;
}

TEST_F(MuImageMacTest, AHandedOverImageShownAgainAsBorrowedStaysOwned) {
  appkit::inject::mainDisplay(1440, 900, 1);
  MuImageMac* i = image(nullptr);
  rfb::ManagedPixelBuffer* handed = pixels(8, 8);
  i->setPixelImage(handed, true);
  i->setPixelImage(handed, false);
  EXPECT_EQ(i->imageSize(), (Size{8, 8}));
  // Freed with the next image, once (the sanitizer sees a leak or a double
  // free otherwise).
  i->setPixelImage(pixels(2, 2), true);
  EXPECT_EQ(i->imageSize(), (Size{2, 2}));
}

}  // namespace
}  // namespace mui
