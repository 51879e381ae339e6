#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextSystem.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/UserDefaults.h"
#include "platform/appkit/Workspace.h"
#include "platform/objc/NotificationCenter.h"
#include "platform/objc/String.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelTrans.h"
#include "testing/FileFixtures.h"

namespace appkit {
namespace {

// Premultiplied RGBA, red in the lowest byte.
constexpr uint32_t kClear = 0;
constexpr uint32_t kRed = 0xff0000ff;
constexpr uint32_t kBlue = 0xffff0000;
constexpr uint32_t kWhite = 0xffffffff;

// A canvas of w x h pixels in the RGBA byte format, current while the
// test runs.
class Canvas {
 public:
  Canvas(int w, int h, double scale, bool flipped)
      : buffer_(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, w, h)),
        context_(new GraphicsContext(buffer_, scale, flipped)) {
    uint8_t* p = buffer_.getPixelsRW(buffer_.getRect(), &stride_);
    std::fill(p, p + size_t(w) * h * 4, 0);
    GraphicsContext::setCurrent(context_);
  }
  ~Canvas() {
    GraphicsContext::setCurrent(nullptr);
    context_->release();
  }
  uint32_t at(int x, int y) { return buffer_.getPixel(rfb::Point{x, y}); }
  // The number of pixels of the colour in the rectangle.
  int count(rfb::Rect r, uint32_t v) {
    int n = 0;
    for (int y = r.y1; y < r.y2; ++y)
      for (int x = r.x1; x < r.x2; ++x) n += at(x, y) == v;
    return n;
  }
  // The bounding rectangle of the pixels that are not clear.
  rfb::Rect painted() {
    rfb::Rect r(buffer_.width(), buffer_.height(), 0, 0);
    for (int y = 0; y < buffer_.height(); ++y)
      for (int x = 0; x < buffer_.width(); ++x)
        if (at(x, y) != kClear)
          r = rfb::Rect(std::min(r.x1, x), std::min(r.y1, y), std::max(r.x2, x + 1), std::max(r.y2, y + 1));
    return r;
  }
  GraphicsContext* operator->() { return context_; }

 private:
  rfb::ManagedPixelBuffer buffer_;
  GraphicsContext* context_;
  int32_t stride_ = 0;
};

class GraphicsTest : public ::testing::Test {
 protected:
  void TearDown() override { inject::appearance(false); }
  objc::AutoreleasePool pool_;
};

Color* red() { return Color::calibrated(1, 0, 0, 1); }
Color* blue() { return Color::calibrated(0, 0, 1, 1); }
int64_t area(const rfb::Rect& r) { return r.width() * r.height(); }

TEST_F(GraphicsTest, RectanglesLandOnTheDevicePixelsOfTheirScaleAndDirection) {
  struct Case {
    double scale;
    bool flipped;
    rfb::Rect expected;
  };
  // The rectangle (1, 2, 3, 4) in points on a 20 x 20 pixel canvas.
  const Case cases[] = {
      {1, true, rfb::Rect(1, 2, 4, 6)},
      {1, false, rfb::Rect(1, 14, 4, 18)},
      {2, true, rfb::Rect(2, 4, 8, 12)},
      {2, false, rfb::Rect(2, 8, 8, 16)},
  };
  for (const Case& c : cases) {
    Canvas canvas(20, 20, c.scale, c.flipped);
    red()->set();
    rectFill(makeRect(1, 2, 3, 4));
    EXPECT_EQ(canvas.painted(), c.expected) << c.scale << " " << c.flipped;
    EXPECT_EQ(canvas.count(c.expected, kRed), area(c.expected)) << c.scale << " " << c.flipped;
  }
}

TEST_F(GraphicsTest, FillsCompositeTranslateAndClip) {
  Canvas canvas(10, 10, 1, true);
  blue()->set();
  rectFill(makeRect(0, 0, 10, 10));
  // Half-transparent red over blue, source over: premultiplied channels
  // add up.
  Color::calibrated(1, 0, 0, 0.5)->set();
  canvas->fillRect(makeRect(0, 0, 2, 2));
  EXPECT_EQ(canvas.at(0, 0), 0xff7f0080u);
  // NSRectFill copies, alpha and all.
  rectFill(makeRect(2, 0, 1, 1));
  EXPECT_EQ(canvas.at(2, 0), 0x80000080u);
  rectFillUsingOperation(makeRect(3, 0, 1, 1), kCompositeClear);
  EXPECT_EQ(canvas.at(3, 0), kClear);

  // Translation moves the origin; the clip keeps drawing inside it, and
  // restoring the state lifts both.
  GraphicsContext::saveGraphicsState();
  canvas->translate(5, 5);
  canvas->clipToRect(makeRect(0, 0, 2, 2));
  red()->set();
  rectFill(makeRect(-5, -5, 10, 10));
  GraphicsContext::restoreGraphicsState();
  EXPECT_EQ(canvas.count(rfb::Rect(5, 5, 7, 7), kRed), 4);
  EXPECT_EQ(canvas.count(rfb::Rect(0, 0, 10, 10), kRed), 4);
  // The colour set inside went with the state too.
  rectFill(makeRect(9, 9, 1, 1));
  EXPECT_EQ(canvas.at(9, 9), 0x80000080u);

  // Rectangles far beyond the buffer, or undefined, are clipped or
  // dropped.
  Canvas far(4, 4, 2, false);
  red()->set();
  rectFill(makeRect(-1e12, -1e12, 1e13, 1e13));
  EXPECT_EQ(far.count(rfb::Rect(0, 0, 4, 4), kRed), 16);
  blue()->set();
  rectFill(makeRect(std::nan(""), 0, 2, 2));
  rectFill(makeRect(0, 0, std::nan(""), 2));
  BezierPath::strokeLine(Point{0, 0}, Point{1e300, std::nan("")});
  EXPECT_EQ(far.count(rfb::Rect(0, 0, 4, 4), kRed), 16);
}

TEST_F(GraphicsTest, LinesAndOutlinesFollowThePixelCentreRule) {
  Canvas canvas(12, 12, 1, true);
  red()->set();
  // A one-point line on a half coordinate covers exactly one row.
  BezierPath::strokeLine(Point{1, 3.5}, Point{9, 3.5});
  EXPECT_EQ(canvas.painted(), rfb::Rect(1, 3, 9, 4));
  // The default line width of paths widens it.
  Canvas wide(12, 12, 1, true);
  red()->set();
  BezierPath::setDefaultLineWidth(2);
  BezierPath::strokeLine(Point{1, 4}, Point{9, 4});
  BezierPath::setDefaultLineWidth(1);
  EXPECT_EQ(wide.painted(), rfb::Rect(1, 3, 9, 5));
  // A diagonal covers one pixel per row.
  Canvas diagonal(12, 12, 1, true);
  red()->set();
  BezierPath::strokeLine(Point{0, 0}, Point{10, 10});
  for (int i = 0; i < 10; ++i) EXPECT_EQ(diagonal.at(i, i), kRed) << i;
  EXPECT_EQ(diagonal.count(rfb::Rect(0, 0, 12, 12), kRed), 10);
  // A frame is one point inside the rectangle.
  Canvas frame(12, 12, 1, true);
  red()->set();
  frameRect(makeRect(2, 2, 6, 4));
  EXPECT_EQ(frame.painted(), rfb::Rect(2, 2, 8, 6));
  EXPECT_EQ(frame.count(rfb::Rect(2, 2, 8, 6), kRed), 6 * 2 + 2 * 2);
  EXPECT_EQ(frame.at(3, 3), kClear);
}

TEST_F(GraphicsTest, RoundedRectanglesAndFocusRingsLeaveTheirCornersOut) {
  Canvas canvas(40, 40, 1, true);
  red()->set();
  BezierPath::withRoundedRect(makeRect(10, 10, 20, 20), 6, 6)->fill();
  EXPECT_EQ(canvas.painted(), rfb::Rect(10, 10, 30, 30));
  for (auto [x, y] : {std::pair{10, 10}, {29, 10}, {10, 29}, {29, 29}})
    EXPECT_EQ(canvas.at(x, y), kClear) << x << "," << y;
  EXPECT_EQ(canvas.at(20, 10), kRed);
  EXPECT_EQ(canvas.at(10, 20), kRed);
  EXPECT_EQ(canvas.at(20, 20), kRed);

  // The focus ring: a band outside the rectangle, the inside untouched,
  // in the translucent focus colour.
  Canvas ring(40, 40, 1, true);
  ring->drawFocusRing(makeRect(10, 10, 20, 20));
  const int w = static_cast<int>(kFocusRingWidth);
  EXPECT_EQ(ring.painted(), rfb::Rect(10 - w, 10 - w, 30 + w, 30 + w));
  EXPECT_EQ(ring.count(rfb::Rect(10, 10, 30, 30), kClear), 400);
  const uint32_t focus = ring.at(20, 10 - w);
  EXPECT_NE(focus, kClear);
  EXPECT_EQ(focus >> 24, 0x80u);
  EXPECT_EQ(ring.at(10 - w, 10 - w), kClear);

  // A rectangle fill under a focus ring style draws the ring instead,
  // until the state is restored.
  Canvas styled(40, 40, 1, true);
  red()->set();
  GraphicsContext::saveGraphicsState();
  setFocusRingStyle(kFocusRingOnly);
  rectFill(makeRect(10, 10, 20, 20));
  GraphicsContext::restoreGraphicsState();
  EXPECT_EQ(styled.at(20, 10 - w), focus);
  EXPECT_EQ(styled.at(20, 20), kClear);
  rectFill(makeRect(10, 10, 20, 20));
  EXPECT_EQ(styled.at(20, 20), kRed);
}

// A 2 x 2 image: red, blue on the top row, white, clear below.
Image* fourPixels() {
  BitmapImageRep* rep = BitmapImageRep::create(nullptr, 2, 2, 8, 4, true, false, kDeviceRGBColorSpace, 8, 32);
  const uint32_t px[4] = {kRed, kBlue, kWhite, kClear};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) rep->bitmapData()[i * 4 + k] = static_cast<uint8_t>(px[i] >> (8 * k));
  auto* image = new Image(Size{2, 2});
  image->addRepresentation(rep);
  rep->release();
  return static_cast<Image*>(image->autorelease());
}

TEST_F(GraphicsTest, ImagesScaleToTheirRectangleUprightOrAsAsked) {
  Image* image = fourPixels();
  Canvas canvas(8, 8, 2, true);
  image->drawInRect(makeRect(0, 0, 2, 2), Rect{}, kCompositeSourceOver, 1, true, nullptr);
  // Each image pixel covers 2 x 2 device pixels, top row on top.
  EXPECT_EQ(canvas.count(rfb::Rect(0, 0, 2, 2), kRed), 4);
  EXPECT_EQ(canvas.count(rfb::Rect(2, 0, 4, 2), kBlue), 4);
  EXPECT_EQ(canvas.count(rfb::Rect(0, 2, 2, 4), kWhite), 4);
  EXPECT_EQ(canvas.count(rfb::Rect(2, 2, 4, 4), kClear), 4);
  // Without respecting the flip the image lands upside down; the
  // fraction scales its opacity; a source rectangle (bottom-up points)
  // picks one pixel.
  image->drawInRect(makeRect(2, 0, 2, 2), Rect{}, kCompositeSourceOver, 1, false, nullptr);
  EXPECT_EQ(canvas.at(4, 0), kWhite);
  EXPECT_EQ(canvas.at(4, 2), kRed);
  image->drawInRect(makeRect(0, 2, 1, 1), Rect{}, kCompositeCopy, 0.5, true, nullptr);
  EXPECT_EQ(canvas.at(0, 4), 0x80000080u);
  image->drawInRect(makeRect(1, 2, 1, 1), makeRect(1, 1, 1, 1), kCompositeCopy, 1, true, nullptr);
  EXPECT_EQ(canvas.at(2, 4), kBlue);
  EXPECT_EQ(canvas.at(3, 5), kBlue);
}

TEST_F(GraphicsTest, BitmapsAreMadeOnlyInTheRgbaByteLayout) {
  struct Case {
    const char* what;
    long w, h, bps, spp;
    bool alpha, planar;
    const char* space;
    long rowBytes, bpp;
    bool made;
  };
  const Case cases[] = {
      {"rgba", 3, 2, 8, 4, true, false, kDeviceRGBColorSpace, 12, 32, true},
      {"computed layout", 3, 2, 8, 4, true, false, kDeviceRGBColorSpace, 0, 0, true},
      {"16-bit samples", 3, 2, 16, 4, true, false, kDeviceRGBColorSpace, 24, 64, false},
      {"no alpha", 3, 2, 8, 3, false, false, kDeviceRGBColorSpace, 9, 24, false},
      {"planar", 3, 2, 8, 4, true, true, kDeviceRGBColorSpace, 3, 8, false},
      {"other space", 3, 2, 8, 4, true, false, "NSCalibratedWhiteColorSpace", 12, 32, false},
      {"padded rows", 3, 2, 8, 4, true, false, kDeviceRGBColorSpace, 16, 32, false},
      {"no width", 0, 2, 8, 4, true, false, kDeviceRGBColorSpace, 0, 32, false},
      {"negative height", 3, -1, 8, 4, true, false, kDeviceRGBColorSpace, 12, 32, false},
      {"over 2^31 bytes", 32768, 16385, 8, 4, true, false, kDeviceRGBColorSpace, 131072, 32, false},
  };
  for (const Case& c : cases) {
    BitmapImageRep* rep =
        BitmapImageRep::create(nullptr, c.w, c.h, c.bps, c.spp, c.alpha, c.planar, c.space, c.rowBytes, c.bpp);
    EXPECT_EQ(rep != nullptr, c.made) << c.what;
    if (!rep) continue;
    EXPECT_EQ(rep->size(), (Size{3, 2}));
    EXPECT_EQ(rep->bytesPerRow(), 12);
    EXPECT_EQ(rep->pixelAt(2, 1), kClear);
    rep->release();
  }
  uint8_t* plane = nullptr;
  EXPECT_EQ(BitmapImageRep::create(&plane, 3, 2, 8, 4, true, false, kDeviceRGBColorSpace, 12, 32), nullptr);
}

// Counts the notifications it receives.
class Counter : public objc::Object {
 public:
  void perform(const char*, objc::Object*) override { ++count; }
  int count = 0;
};

TEST_F(GraphicsTest, SystemColoursFollowTheAppearanceWhileFixedOnesDoNot) {
  auto components = [](const Color* c) {
    double r, g, b, a;
    c->getRed(&r, &g, &b, &a);
    return std::to_string(int(r * 255)) + "," + std::to_string(int(g * 255)) + "," + std::to_string(int(b * 255)) +
           "," + std::to_string(int(a * 255));
  };
  Counter counter;
  objc::NotificationCenter::distributedCenter().addObserver(
      &counter, "themeChanged:", kInterfaceThemeChangedNotification, nullptr);
  Color* text = Color::textColor();
  Color* frozen = text->usingColorSpace(ColorSpace::genericRGB());
  EXPECT_FALSE(isDarkAppearance());
  EXPECT_EQ(components(text), "0,0,0,255");

  inject::appearance(true);
  EXPECT_EQ(counter.count, 1);
  EXPECT_TRUE(isDarkAppearance());
  EXPECT_STREQ(UserDefaults::standard().stringForKey(kInterfaceStyleKey)->utf8(), "Dark");
  EXPECT_EQ(components(text), "255,255,255,255");
  EXPECT_EQ(components(frozen), "0,0,0,255");
  EXPECT_EQ(components(Color::textBackgroundColor()), "30,30,30,255");

  inject::appearance(false);
  EXPECT_EQ(counter.count, 2);
  EXPECT_EQ(UserDefaults::standard().stringForKey(kInterfaceStyleKey), nullptr);
  EXPECT_EQ(components(Color::textBackgroundColor()), "255,255,255,255");
  // Other values of the default are not dark.
  UserDefaults::standard().setString(kInterfaceStyleKey, "dark");
  EXPECT_FALSE(isDarkAppearance());
  UserDefaults::standard().removeObjectForKey(kInterfaceStyleKey);
  objc::NotificationCenter::distributedCenter().removeObserver(&counter);

  // Every system colour the program names exists in both appearances.
  for (Color* c :
       {Color::placeholderTextColor(), Color::windowBackgroundColor(), Color::labelColor(),
        Color::selectedTextBackgroundColor(), Color::selectedTextColor(), Color::linkColor(), Color::controlTextColor(),
        Color::disabledControlTextColor(), Color::systemGrayColor(), Color::alternateSelectedControlTextColor()}) {
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->isSystemColor());
  }
  EXPECT_EQ(components(Color::calibrated(2, -1, 0.5, 1)), "255,0,127,255");
}

TEST_F(GraphicsTest, WorkspaceIconsAreGenericPictures) {
  yarl_test::TempDir dir;
  const std::string file = dir.write("notes.txt", "x");
  Image* doc = Workspace::shared().iconForFile(file.c_str());
  ASSERT_NE(doc, nullptr);
  EXPECT_STREQ(doc->iconKind(), "document");
  EXPECT_EQ(doc->size(), (Size{kFileIconSize, kFileIconSize}));
  ASSERT_NE(doc->bitmap(), nullptr);
  EXPECT_EQ(doc->bitmap()->pixelAt(16, 16), kWhite);
  EXPECT_STREQ(Workspace::shared().iconForFile(dir.c_str())->iconKind(), "folder");
  EXPECT_EQ(Workspace::shared().iconForFile((dir / "missing.pdf").c_str()), nullptr);
  EXPECT_STREQ(Workspace::shared().iconForFileType("pdf")->iconKind(), "document");

  const std::pair<const char*, const char*> extensions[] = {
      {"/a/b.pdf", "pdf"}, {"/a/b.tar.gz", "gz"}, {"/a.d/b", ""}, {"/a/.profile", ""}, {"b.", ""}, {"", ""},
  };
  for (auto [path, ext] : extensions) EXPECT_STREQ(pathExtension(path), ext) << path;
}

TEST_F(GraphicsTest, TextViewsDrawTheirBackgroundAndLinksAsAsked) {
  auto* view = new TextView(makeRect(0, 0, 100, 20));
  {
    Canvas canvas(100, 20, 1, true);
    view->drawRect(view->bounds());
    EXPECT_EQ(canvas.at(50, 10), kWhite);  // the text background colour
  }
  {
    Canvas canvas(100, 20, 1, true);
    view->setBackgroundColor(red());
    view->drawRect(view->bounds());
    EXPECT_EQ(canvas.at(50, 10), kRed);
  }
  {
    Canvas canvas(100, 20, 1, true);
    view->setDrawsBackground(false);
    view->drawRect(view->bounds());
    EXPECT_EQ(canvas.at(50, 10), kClear);
  }
  // A blue link without underline: the default link look wins over the
  // run's, an empty set of link attributes leaves the run's.
  Color* linkBlue = blue();
  Attributes run;
  run.set(kLinkAttributeName, objc::String::withUtf8("https://example.com/"));
  run.set(kForegroundColorAttributeName, linkBlue);
  view->textStorage()->setAttributedString(AttributedString::withUtf8("link", run));
  struct Case {
    bool emptyLinkAttributes;
    Color* colour;
    bool underlined;
  };
  for (const Case& c : {Case{false, Color::linkColor(), true}, Case{true, linkBlue, false}}) {
    SCOPED_TRACE(c.emptyLinkAttributes);
    if (c.emptyLinkAttributes) view->setLinkTextAttributes(Attributes());
    clearTextDrawings();
    Canvas canvas(100, 20, 1, true);
    view->drawRect(view->bounds());
    ASSERT_EQ(textDrawings().size(), 1u);
    EXPECT_EQ(textDrawings().front().colour, c.colour);
    EXPECT_EQ(textDrawings().front().underlined, c.underlined);
  }
  clearTextDrawings();
  view->release();
}

}  // namespace
}  // namespace appkit
