#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Image.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/base/rfb/PixelTrans.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/ImageRepPixelBuffer.h"

namespace ui {
namespace {

using appkit::Size;

constexpr uint32_t kRed = 0xff0000ff;
constexpr uint32_t kGreen = 0xff00ff00;

class ImageRepPixelBufferTest : public ::testing::Test {
 protected:
  void TearDown() override { qoutil::setImageScale(1); }

  // An opaque pixel of the colour in the buffer's format.
  static uint32_t opaque(const rfb::PixelBuffer& pb, uint32_t r, uint32_t g, uint32_t b) {
    return rfb::encodePixel(pb.getPf(), rfb::Colour{r, g, b, 255}, nullptr);
  }
  // The pixel at (x, y) of the buffer's own coordinates.
  static uint32_t pixel(ImageRepPixelBuffer& pb, int x, int y) { return pb.getPixel(rfb::Point{x, y}); }

  objc::AutoreleasePool pool_;
};

TEST_F(ImageRepPixelBufferTest, PixelsAreTheRepresentationsBitmap) {
  ImageRepPixelBuffer pb(rfb::Rect(5, 7, 15, 12));
  EXPECT_TRUE(pb.getPf().equal(rfb::PixelFormat::rgbaBytes()));
  EXPECT_EQ(pb.getRect(), rfb::Rect(5, 7, 15, 12));
  EXPECT_FALSE(pb.preserveOnResize);
  ASSERT_NE(pb.imageRep(), nullptr);
  EXPECT_EQ(pb.imageRep()->pixelsWide(), 10);
  EXPECT_EQ(pb.imageRep()->pixelsHigh(), 5);
  EXPECT_EQ(pb.getStride(), 10);

  // What is drawn into the buffer shows in an image made before.
  appkit::Image* image = pb.makeImage();
  rfb::fillRect(pb, rfb::Rect(6, 8, 7, 9), opaque(pb, 255, 0, 0));
  EXPECT_EQ(image->bitmap(), pb.imageRep());
  EXPECT_EQ(image->bitmap()->pixelAt(1, 1), kRed);

  // The same size again makes nothing new.
  const long made = appkit::BitmapImageRep::madeCount();
  appkit::BitmapImageRep* rep = pb.imageRep();
  pb.setSize(rfb::Size{10, 5});
  EXPECT_EQ(appkit::BitmapImageRep::madeCount(), made);
  EXPECT_EQ(pb.imageRep(), rep);
}

TEST_F(ImageRepPixelBufferTest, ResizingKeepsTheCornerAndOnlyThePixelsAskedFor) {
  for (bool preserve : {false, true}) {
    ImageRepPixelBuffer pb(rfb::Rect(5, 7, 9, 11));
    rfb::fillRect(pb, pb.getRect(), opaque(pb, 0, 255, 0));
    pb.preserveOnResize = preserve;
    appkit::BitmapImageRep* before = pb.imageRep();
    before->retain();
    pb.setSize(rfb::Size{6, 2});
    EXPECT_EQ(pb.getRect(), rfb::Rect(5, 7, 11, 9));
    EXPECT_NE(pb.imageRep(), before);
    EXPECT_EQ(before->retainCount(), 1) << "the buffer let the old representation go";
    before->release();
    // Kept pixels where the old rectangle overlaps; the rest start as
    // the new representation has them (clear).
    EXPECT_EQ(pixel(pb, 8, 8), preserve ? kGreen : 0u) << preserve;
    EXPECT_EQ(pixel(pb, 10, 8), 0u);
    int32_t stride;
    EXPECT_EQ(pb.getPixelsRW(pb.getRect(), &stride), pb.imageRep()->bitmapData());
    EXPECT_EQ(stride, 6);
  }
}

TEST_F(ImageRepPixelBufferTest, AFailedResizeLeavesTheBufferAsItWas) {
  ImageRepPixelBuffer pb(rfb::Rect(1, 1, 5, 5));
  rfb::fillRect(pb, pb.getRect(), opaque(pb, 0, 255, 0));
  appkit::BitmapImageRep* rep = pb.imageRep();
  int32_t stride;
  uint8_t* data = pb.getPixelsRW(pb.getRect(), &stride);
  // More than the platform gives one bitmap, and a size it refuses.
  for (rfb::Size size : {rfb::Size{40000, 40000}, rfb::Size{0, 4}, rfb::Size{-3, 4}}) {
    EXPECT_THROW(pb.setSize(size), plat::Exception);
    EXPECT_EQ(pb.getRect(), rfb::Rect(1, 1, 5, 5));
    EXPECT_EQ(pb.imageRep(), rep);
    EXPECT_EQ(pb.getPixelsRW(pb.getRect(), &stride), data);
    EXPECT_EQ(pixel(pb, 4, 4), kGreen);
  }
  // And it goes on working.
  pb.setSize(rfb::Size{2, 2});
  EXPECT_EQ(pb.getRect(), rfb::Rect(1, 1, 3, 3));
}

TEST_F(ImageRepPixelBufferTest, ImagesMeasurePointsByTheImageScale) {
  ImageRepPixelBuffer pb(rfb::Rect(0, 0, 64, 32));
  EXPECT_EQ(pb.makeImage()->size(), (Size{64, 32}));
  qoutil::setImageScale(2);
  EXPECT_EQ(pb.makeImage()->size(), (Size{32, 16}));
  EXPECT_EQ(pb.makeImage(Size{10, 7})->size(), (Size{10, 7}));
  ImageRepPixelBuffer odd(rfb::Rect(0, 0, 5, 3));
  EXPECT_EQ(odd.makeImage()->size(), (Size{2, 1}));
}

TEST_F(ImageRepPixelBufferTest, AnotherFormatIsAnAssertionFailure) {
  ImageRepPixelBuffer pb(rfb::Rect(0, 0, 2, 2));
  pb.setPF(rfb::PixelFormat::rgbaBytes());
  rfb::PixelFormat swapped = rfb::PixelFormat::rgbaBytes();
  swapped.bigEndian = !swapped.bigEndian;
  EXPECT_DEATH(pb.setPF(swapped), "Assertion 'pf.equal\\(pf_\\)' failed");
}

TEST_F(ImageRepPixelBufferTest, AnyPixelBufferShowsAsAnImageAndDrawsBack) {
  // A 4 x 2 buffer in another format, left half red, right half green.
  rfb::ManagedPixelBuffer source(rfb::PixelFormat::rgb565(), rfb::Rect(10, 20, 14, 22));
  rfb::fillRect(source, rfb::Rect(10, 20, 12, 22), source.pixelFromRGB(255, 0, 0));
  rfb::fillRect(source, rfb::Rect(12, 20, 14, 22), source.pixelFromRGB(0, 255, 0));
  appkit::Image* image = nsImageFromPixelBuffer(source);
  ASSERT_NE(image->bitmap(), nullptr);
  EXPECT_EQ(image->size(), (Size{4, 2}));
  EXPECT_EQ(image->bitmap()->retainCount(), 1) << "the image holds the only reference";
  EXPECT_EQ(image->bitmap()->pixelAt(0, 0), kRed);
  EXPECT_EQ(image->bitmap()->pixelAt(3, 1), kGreen);

  // Drawn into a view's flipped context at twice the size, half opaque,
  // and read back.
  rfb::ManagedPixelBuffer screen(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 12, 6));
  rfb::fillRect(screen, screen.getRect(), 0);
  auto* context = new appkit::GraphicsContext(screen, 1, true);
  appkit::GraphicsContext::setCurrent(context);
  drawImage(image, appkit::makeRect(0, 0, 8, 4), 1);
  drawImageAt(image, appkit::Point{8, 0}, 0.5);
  appkit::GraphicsContext::setCurrent(nullptr);
  context->release();
  EXPECT_EQ(screen.getPixel(rfb::Point{3, 3}), kRed);
  EXPECT_EQ(screen.getPixel(rfb::Point{4, 0}), kGreen);
  EXPECT_EQ(screen.getPixel(rfb::Point{8, 0}), 0x80000080u);
  EXPECT_EQ(screen.getPixel(rfb::Point{11, 1}), 0x80008000u);
  EXPECT_EQ(screen.getPixel(rfb::Point{11, 2}), 0u);
}

}  // namespace
}  // namespace ui
