#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuFrameMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"
#include "qocore/uilibs/ui/mac/MouseHandlerMac.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {
namespace {

using appkit::makeRect;
using mui_test::Placement;
using mui_test::placement;

// Writes down the events handed to it, answering as told.
class RecordingReceiver : public ui::MouseReceiver {
 public:
  RecordingReceiver(std::vector<std::string>* log, qoutil::MouseCallback* callback) : log_(log), callback_(callback) {}
  bool mouseEvent(appkit::Event* event) override {
    log_->push_back("event " + std::to_string(event->type()));
    return callback_->mouseEvent(event->type() == appkit::kEventLeftMouseDown ? 0 : 1, {}, nullptr);
  }
  bool contextMenu(appkit::Event*) override { return false; }

 private:
  std::vector<std::string>* log_;
  qoutil::MouseCallback* callback_;
};

class Clicks : public qoutil::MouseCallback {
 public:
  bool mouseEvent(int32_t kind, rfb::Point, ui::MouseHandlerMac*) override { return kinds.push_back(kind), true; }
  std::vector<int32_t> kinds;
};

std::vector<std::string>* receiverLog;

class MuFrameMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muFrameFactory = MuFrameMac::create;
    muLayoutFactory = MuLayoutMac::create;
    muLineFactory = MuLineMac::create;
  }
  void TearDown() override {
    ui::makeMouseReceiver = ui::makeMouseHandler;
    MacPeerTest::TearDown();
  }
  // Each test makes the dialogs of the sizes it needs.
  static std::unique_ptr<MuDialog> dialog(Size size) { return makeDialog(size); }
  // A leaf with a native view of its own.
  static MuElement* leaf(MuContainer* parent, const char* id) {
    auto* e = new mui_test::ViewLeaf(parent, id);
    parent->addChild(e);
    return e;
  }
};

TEST_F(MuFrameMacTest, ATitledFrameIsABoxWithItsTitleAtTheTop) {
  auto d = dialog({300, 200});
  auto* titled = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "a", "Group", MuFrame::kTitled));
  auto* untitled = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "b", nullptr, MuFrame::kTitled));
  auto* plain = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "c", "ignored", MuFrame::kBordered));

  ASSERT_NE(titled->box(), nullptr);
  EXPECT_EQ(nativeViewOf(titled), titled->box());
  EXPECT_EQ(titled->box()->titlePosition(), appkit::kAtTop);
  EXPECT_STREQ(titled->box()->title(), "Group");
  EXPECT_EQ(titled->box()->contentView(), titled->background());
  EXPECT_EQ(titled->box()->contentViewMargins(), (appkit::Size{0, 0}));
  EXPECT_EQ(untitled->box()->titlePosition(), appkit::kNoTitle);
  EXPECT_EQ(plain->box(), nullptr);
  EXPECT_EQ(nativeViewOf(plain), plain->background());
  EXPECT_FALSE(plain->background()->autoresizesSubviews());
  EXPECT_TRUE(plain->background()->isFlipped());
}

TEST_F(MuFrameMacTest, AnEmptyFrameMeasuresAsItsMarginsAndBoxBorder) {
  auto d = dialog({300, 200});
  MuFrame* plain = MuFrame::create(d.get(), "p", nullptr, MuFrame::kPlain);
  MuFrame* titled = MuFrame::create(d.get(), "t", "Group", MuFrame::kTitled);
  const Size m = plain->margins();
  EXPECT_EQ(plain->widthForHeight(100), 2 * m.width);
  EXPECT_EQ(plain->heightForWidth(100), 2 * m.height);
  const int32_t border = 2 * static_cast<int32_t>(appkit::kGrooveBorderWidth);
  EXPECT_EQ(titled->widthForHeight(100), 2 * m.width + border);
  EXPECT_EQ(titled->heightForWidth(100), 2 * m.height + border + static_cast<int32_t>(appkit::kBoxTitleHeight));
}

TEST_F(MuFrameMacTest, FramesPlaceTheirChildInsideMarginsAndBox) {
  auto d = dialog({300, 200});
  auto* plain = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "p", nullptr, MuFrame::kPlain));
  auto* titled = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "t", "Group", MuFrame::kTitled));
  MuElement* inPlain = leaf(plain, "x");
  MuElement* inTitled = leaf(titled, "y");
  const Size m = plain->margins();
  const int32_t g = static_cast<int32_t>(appkit::kGrooveBorderWidth);
  const int32_t t = static_cast<int32_t>(appkit::kBoxTitleHeight);

  plain->setSize({200, 100});
  EXPECT_EQ(placement(inPlain), (Placement{m.width, m.height, 200 - 2 * m.width, 100 - 2 * m.height}));
  titled->setSize({200, 100});
  EXPECT_EQ(titled->childOrigin(), (Point{g, g + t}));
  EXPECT_EQ(placement(inTitled),
            (Placement{g + m.width, g + t + m.height, 200 - 2 * g - 2 * m.width, 100 - 2 * g - t - 2 * m.height}));
  // Measured from the child: the child's blank plus all that surrounds it.
  EXPECT_EQ(titled->heightForWidth(200), 2 * g + t + 2 * m.height + inTitled->heightForWidth(0));

  // A new child replaces the old one in the view tree as well.
  MuElement* second = leaf(plain, "z");
  ASSERT_EQ(plain->background()->subviews().size(), 1u);
  EXPECT_EQ(plain->background()->subviews()[0], nativeViewOf(second));
  EXPECT_EQ(placement(second), (Placement{m.width, m.height, 200 - 2 * m.width, 100 - 2 * m.height}));
  plain->remove(second);
  EXPECT_TRUE(plain->background()->subviews().empty());
}

TEST_F(MuFrameMacTest, BoxLayoutsPlaceTheirChildrenAlongTheAxis) {
  auto d = dialog({300, 240});
  auto* rows = static_cast<MuLayoutMac*>(MuLayout::create(d.get(), "rows", MuLayout::kVertical));
  MuLine* line = MuLine::create(rows, "line", true, 1, 0);
  MuFrame* frame = MuFrame::create(rows, "frame", nullptr, MuFrame::kPlain);
  MuElement* rest = leaf(rows, "rest");
  rows->setChildLayout(line, MuLayout::kFixed, line->thickness());
  rows->setChildLayout(rest, MuLayout::kWeighted, 1);
  d->layoutNow();

  const int32_t margin = d->margin();
  const int32_t w = 300 - 2 * margin, h = 240 - 2 * margin;
  EXPECT_EQ(placement(rows), (Placement{margin, margin, w, h}));
  EXPECT_EQ(rows->container()->frame(), makeRect(margin, margin, w, h));
  const int32_t s = rows->spacing();
  const int32_t fh = 2 * frame->margins().height;
  EXPECT_EQ(placement(line), (Placement{0, 0, w, 2}));
  EXPECT_EQ(placement(frame), (Placement{0, 2 + s, w, fh}));
  EXPECT_EQ(placement(rest), (Placement{0, 2 + s + fh + s, w, h - (2 + s + fh + s)}));
  EXPECT_EQ(nativeViewOf(rest)->frame().origin, (appkit::Point{0, 2.0 + s + fh + s}));

  // The window grows: the frame-change notifications lay everything out
  // again.
  d->setSize({300, 340});
  EXPECT_EQ(placement(rest).h, h + 100 - (2 + s + fh + s));

  // Removing a child takes its view out and closes the gap.
  rows->remove(frame);
  EXPECT_EQ(rows->container()->subviews().size(), 2u);
  EXPECT_EQ(placement(rest).y, 2 + s);
}

TEST_F(MuFrameMacTest, LinesKeepTheirThicknessAndRedrawOnStyleChange) {
  auto d = dialog({300, 200});
  auto* etched = static_cast<MuLineMac*>(MuLine::create(d.get(), "e", true, 1, 7));
  auto* plain = static_cast<MuLineMac*>(MuLine::create(d.get(), "p", false, 0, 3));
  EXPECT_EQ(etched->thickness(), 2);
  EXPECT_EQ(plain->thickness(), 3);
  EXPECT_EQ(nativeViewOf(plain), plain->lineView());
  EXPECT_EQ(plain->lineView()->cxx, plain);
  plain->lineView()->setNeedsDisplay(false);
  plain->refreshStyle();
  EXPECT_TRUE(plain->lineView()->needsDisplay());
}

// A flipped canvas of w x h points at scale 2 (every edge line keeps one
// device pixel inside the bounds), current while it lives.
class Canvas {
 public:
  Canvas(int w, int h)
      : buffer_(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 2 * w, 2 * h)),
        context_(new appkit::GraphicsContext(buffer_, 2, true)) {
    int stride;
    uint8_t* p = buffer_.getPixelsRW(buffer_.getRect(), &stride);
    std::fill(p, p + size_t(4) * w * h * 4, 0);
    appkit::GraphicsContext::setCurrent(context_);
  }
  ~Canvas() {
    appkit::GraphicsContext::setCurrent(nullptr);
    context_->release();
  }
  // The pixel at device (x, y).
  uint32_t at(int x, int y) { return buffer_.getPixel(rfb::Point{x, y}); }

 private:
  rfb::ManagedPixelBuffer buffer_;
  appkit::GraphicsContext* context_;
};

// The device value of an opaque colour (RGBA bytes, red lowest).
uint32_t pixelOf(appkit::Color* colour) {
  const plat::Rgb rgb = ui::rgbFromColour(colour);
  return 0xff000000u | uint32_t(rgb.blue) << 16 | uint32_t(rgb.green) << 8 | uint32_t(rgb.red);
}

TEST_F(MuFrameMacTest, FramesWithoutABoxDrawTheirBackgroundAndBorder) {
  struct Case {
    uint32_t type;
    bool top, bottom, leftRight;
  };
  const Case cases[] = {
      {MuFrame::kPlain, false, false, false},
      {MuFrame::kHeader, false, true, false},
      {MuFrame::kFooter, true, false, false},
      {MuFrame::kBordered, true, true, true},
  };
  const uint32_t grey = pixelOf(appkit::Color::systemGrayColor());
  const uint32_t red = 0xff0000ff;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    auto d = dialog({300, 200});
    auto* frame = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "f", nullptr, c.type));
    frame->setBackgroundColour("#ff0000");
    BackgroundFrameOC* view = frame->background();
    view->setFrameSize({20, 10});
    Canvas canvas(20, 10);
    view->drawRect(view->bounds());
    EXPECT_EQ(canvas.at(20, 10), red);
    EXPECT_EQ(canvas.at(20, 0), c.top ? grey : red);
    EXPECT_EQ(canvas.at(20, 19), c.bottom ? grey : red);
    EXPECT_EQ(canvas.at(0, 10), c.leftRight ? grey : red);
    EXPECT_EQ(canvas.at(39, 10), c.leftRight ? grey : red);
  }
  // Without a background colour only the border is drawn; a titled frame
  // has its box and draws no lines of its own.
  auto d = dialog({300, 200});
  auto* bare = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "b", nullptr, MuFrame::kBordered));
  auto* titled = static_cast<MuFrameMac*>(MuFrame::create(d.get(), "t", "Group", MuFrame::kTitled));
  for (MuFrameMac* frame : {bare, titled}) {
    frame->background()->setFrameSize({20, 10});
    Canvas canvas(20, 10);
    frame->background()->drawRect(frame->background()->bounds());
    EXPECT_EQ(canvas.at(20, 10), 0u);
    EXPECT_EQ(canvas.at(20, 19), frame == bare ? grey : 0u);
  }
}

TEST_F(MuFrameMacTest, EtchedLinesAreAGreyAndABackgroundHalfAndPlainOnesTakeTheTextColour) {
  auto d = dialog({300, 200});
  auto* across = static_cast<MuLineMac*>(MuLine::create(d.get(), "h", true, 1, 0));
  auto* down = static_cast<MuLineMac*>(MuLine::create(d.get(), "v", false, 1, 0));
  auto* plain = static_cast<MuLineMac*>(MuLine::create(d.get(), "p", true, 0, 2));
  plain->setColour("#0000ff");
  const uint32_t grey = pixelOf(ui::getColour("disabledText", "#808080"));
  const uint32_t background = pixelOf(ui::getColour("contentBg", "#808080"));
  ASSERT_NE(grey, background);
  {
    Canvas canvas(10, 2);
    across->lineView()->drawRect(makeRect(0, 0, 10, 2));
    EXPECT_EQ(canvas.at(5, 0), grey);
    EXPECT_EQ(canvas.at(5, 3), background);
  }
  {
    Canvas canvas(2, 10);
    down->lineView()->drawRect(makeRect(0, 0, 2, 10));
    EXPECT_EQ(canvas.at(0, 5), grey);
    EXPECT_EQ(canvas.at(3, 5), background);
  }
  {
    Canvas canvas(10, 2);
    plain->lineView()->drawRect(makeRect(0, 0, 10, 2));
    EXPECT_EQ(canvas.at(0, 0), 0xffff0000u);
    EXPECT_EQ(canvas.at(19, 3), 0xffff0000u);
  }
}

TEST_F(MuFrameMacTest, TheDialogsBackgroundFollowsItsStyle) {
  auto d = dialog({300, 200});
  auto* window = static_cast<MuDialogMac*>(d.get())->window();
  d->refreshStyle();
  ASSERT_NE(window->backgroundColor(), nullptr);
  EXPECT_EQ(pixelOf(window->backgroundColor()), pixelOf(ui::getColour("contentBg")));
  d->setBackgroundColour("#00ff00");
  EXPECT_EQ(pixelOf(window->backgroundColor()), 0xff00ff00u);
}

TEST_F(MuFrameMacTest, BackgroundMouseEventsGoToTheElementsCallback) {
  std::vector<std::string> log;
  receiverLog = &log;
  ui::makeMouseReceiver = [](appkit::View*, qoutil::MouseCallback* callback) -> std::unique_ptr<ui::MouseReceiver> {
    return std::make_unique<RecordingReceiver>(receiverLog, callback);
  };
  auto d = dialog({300, 200});
  MuLayout* rows = MuLayout::create(d.get(), "rows", MuLayout::kVertical);
  Clicks clicks;
  rows->setMouseCallback(&clicks);
  d->setPosition({0, 0});
  d->setVisible(true);

  appkit::inject::click(static_cast<MuDialogMac*>(d.get())->window(), {150, 100});
  appkit::inject::handleQueued();
  EXPECT_EQ(log, (std::vector<std::string>{"event 1", "event 2"}));
  EXPECT_EQ(clicks.kinds, (std::vector<int32_t>{0, 1}));
}

}  // namespace
}  // namespace mui
