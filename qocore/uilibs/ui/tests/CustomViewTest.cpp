#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/ui/mac/CustomView.h"

namespace ui {
namespace {

using appkit::makeRect;

plat::TimeValue fakeNow = 5'000'000'000;
plat::TimeValue fakeClock(plat::TimeValue, bool*) { return fakeNow; }

// Paints each dirty rectangle red and records the keys and focus changes.
class Painter : public CustomView::Callback {
 public:
  void draw(CustomView*, const rfb::Rect& dirty) override {
    drawn.push_back(dirty);
    appkit::GraphicsContext* context = appkit::GraphicsContext::current();
    context->setFillColor(appkit::Color::device(1, 0, 0, 1));
    context->fillRect(makeRect(dirty.x1, dirty.y1, double(dirty.width()), double(dirty.height())));
  }
  bool focusChanged(CustomView*, bool gained) override {
    log.push_back(gained ? "focus" : "blur");
    return true;
  }
  bool keyDown(CustomView*, appkit::Event* e) override {
    log.push_back(std::string("key ") + e->characters()->utf8());
    return true;
  }
  std::vector<rfb::Rect> drawn;
  std::vector<std::string> log;
};

// The mouse notices, with an answer chosen per kind.
class Notices : public qoutil::MouseCallback {
 public:
  bool mouseEvent(int32_t kind, rfb::Point point, MouseHandlerMac*) override {
    got.push_back({kind, point});
    return kind < 32 && (takes >> kind & 1);
  }
  std::vector<int32_t> kinds() const {
    std::vector<int32_t> out;
    for (const auto& n : got) out.push_back(n.first);
    return out;
  }
  std::vector<std::pair<int32_t, rfb::Point>> got;
  uint32_t takes = 0;
};

// The plain-view side: what reaches the custom view's superview.
class Parent : public appkit::View {
 public:
  using appkit::View::View;
  void mouseDown(appkit::Event*) override { log.push_back("down"); }
  void mouseEntered(appkit::Event*) override { log.push_back("entered"); }
  void mouseExited(appkit::Event*) override { log.push_back("exited"); }
  void keyUp(appkit::Event*) override { log.push_back("keyUp"); }
  void rightMouseDown(appkit::Event*) override { log.push_back("right"); }
  std::vector<std::string> log;
};

class CustomViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = plat::setMonotonicClock(fakeClock);
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    window_ = new appkit::Window(makeRect(0, 0, 200, 100), appkit::kWindowStyleTitled);
    window_->setReleasedWhenClosed(false);
    parent_ = new Parent(makeRect(0, 0, 200, 100));
    window_->contentView()->addSubview(parent_);
    parent_->release();
    window_->makeKeyAndOrderFront(nullptr);
  }
  void TearDown() override {
    window_->release();
    appkit::Application::reset();
    plat::setMonotonicClock(previous_);
  }
  // Puts the view at (10, 10) with size 40 x 20 (in the unflipped parent:
  // base y 10 to 30).
  void place(CustomView& v) {
    v.view()->setFrame(makeRect(10, 10, 40, 20));
    parent_->addSubview(v.view());
  }
  void advance(int ms) {
    fakeNow += ms * plat::kTicksPerMs;
    manager_.processTimers();
  }
  appkit::Event* mouse(int type, appkit::Point base) {
    appkit::Event* e = appkit::Event::mouseEvent(type, base, 0, 0, window_->windowNumber(), 0, 1, 1);
    e->setWindow(window_);
    return e;
  }

  objc::AutoreleasePool pool_;
  plat::MonotonicClockFn previous_;
  plat::TimerManager manager_{plat::TimerManager::current() != nullptr};
  appkit::Window* window_;
  Parent* parent_;
};

TEST_F(CustomViewTest, DrawsItsDirtyRectanglesIntoAPixelBuffer) {
  Painter painter;
  CustomView v(&painter, nullptr);
  v.view()->setFrame(makeRect(0, 0, 20, 10));
  rfb::ManagedPixelBuffer buffer(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 20, 10));
  int32_t stride = 0;
  uint8_t* p = buffer.getPixelsRW(buffer.getRect(), &stride);
  std::fill(p, p + 20 * 10 * 4, 0);
  auto* context = new appkit::GraphicsContext(buffer, 1, false);

  // Flipped by default: the dirty rectangle's top is the buffer's top row.
  v.view()->displayRectIgnoringOpacity(makeRect(2, 3, 5.9, 2), context);
  // Narrower than a point: nothing to draw.
  v.view()->displayRectIgnoringOpacity(makeRect(8, 1, 0.5, 4), context);
  context->release();
  EXPECT_EQ(painter.drawn, (std::vector<rfb::Rect>{rfb::Rect(2, 3, 7, 5)}));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      EXPECT_EQ(buffer.getPixel(rfb::Point{x, y}), (x >= 2 && x < 7 && y >= 3 && y < 5) ? 0xff0000ffu : 0u)
          << x << "," << y;

  // paint draws at once, and only a rectangle with an inside.
  v.paint(rfb::Rect(1, 1, 1, 5));
  EXPECT_EQ(painter.drawn.size(), 1u);
  appkit::GraphicsContext::setCurrent(new appkit::GraphicsContext(buffer, 1, true));
  v.paint(rfb::Rect(0, 0, 1, 1));
  appkit::GraphicsContext::current()->release();
  appkit::GraphicsContext::setCurrent(nullptr);
  EXPECT_EQ(painter.drawn.back(), rfb::Rect(0, 0, 1, 1));

  v.invalidate(rfb::Rect(3, 4, 8, 6));
  EXPECT_TRUE(v.view()->needsDisplay());
  EXPECT_EQ(v.view()->dirtyRect(), makeRect(3, 4, 5, 2));
}

TEST_F(CustomViewTest, ClicksAreConfirmedAfterTheDoubleClickIntervalOnTheClock) {
  Painter painter;
  Notices notices;
  CustomView v(&painter, &notices);
  place(v);
  // Base (15, 25) lies 5 right of and 5 below the flipped view's top left.
  appkit::inject::click(window_, {15, 25});
  appkit::inject::handleQueued();
  EXPECT_EQ(notices.kinds(), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(notices.got[0].second, (rfb::Point{5, 5}));
  advance(appkit::kDoubleClickIntervalMs + 99);
  EXPECT_EQ(notices.kinds().size(), 2u);
  advance(1);
  EXPECT_EQ(notices.kinds(), (std::vector<int32_t>{0, 1, 3}));
  EXPECT_EQ(notices.got.back().second, (rfb::Point{5, 5}));
}

TEST_F(CustomViewTest, ADoubleClickTakenByTheCallbackIsNotConfirmedAsAClick) {
  struct Case {
    uint32_t takes;
    std::vector<int32_t> kinds;
  } cases[] = {
      {1u << MouseHandlerMac::kDoubleClicked, {0, 1, 0, 2}},
      // Not taken: the second click counts as a click of its own.
      {0, {0, 1, 0, 2, 1, 3}},
  };
  for (const Case& c : cases) {
    Painter painter;
    Notices notices;
    notices.takes = c.takes;
    CustomView v(&painter, &notices);
    place(v);
    appkit::inject::click(window_, {15, 25});
    advance(100);
    appkit::inject::click(window_, {15, 25});
    appkit::inject::handleQueued();
    advance(appkit::kDoubleClickIntervalMs + 100);
    EXPECT_EQ(notices.kinds(), c.kinds) << c.takes;
    v.view()->removeFromSuperview();
    advance(2000);
  }
}

TEST_F(CustomViewTest, MovesExitsReleasesAndContextMenusBecomeNotices) {
  Painter painter;
  Notices notices;
  CustomView v(&painter, &notices);
  place(v);
  v.view()->mouseMoved(mouse(appkit::kEventMouseMoved, {20.7, 29.5}));
  v.view()->mouseExited(mouse(appkit::kEventMouseExited, {60, 25}));
  // A release without a press in this view sends nothing.
  v.view()->mouseUp(mouse(appkit::kEventLeftMouseUp, {20, 25}));
  notices.takes = 1u << MouseHandlerMac::kContextMenu;
  appkit::inject::rightClick(window_, {12, 12});
  appkit::inject::handleQueued();
  EXPECT_EQ(notices.kinds(), (std::vector<int32_t>{4, 5, 6}));
  EXPECT_EQ(notices.got[0].second, (rfb::Point{10, 0}));
  EXPECT_EQ(notices.got[2].second, (rfb::Point{2, 18}));
  EXPECT_FALSE(manager_.processTimers() > 0);
}

TEST_F(CustomViewTest, HandlerAnswersDecideWhatReachesThePlainView) {
  Painter painter;
  Notices notices;
  CustomView v(&painter, &notices);
  place(v);
  // Answers false: a press stays here, leaving goes on.
  v.view()->mouseDown(mouse(appkit::kEventLeftMouseDown, {15, 25}));
  v.view()->mouseExited(mouse(appkit::kEventMouseExited, {15, 25}));
  EXPECT_EQ(parent_->log, (std::vector<std::string>{"exited"}));
  // Answers true: the opposite.  Entering sends no notice, so it always
  // goes on.
  parent_->log.clear();
  notices.takes = ~0u;
  v.view()->mouseDown(mouse(appkit::kEventLeftMouseDown, {15, 25}));
  v.view()->mouseExited(mouse(appkit::kEventMouseExited, {15, 25}));
  v.view()->mouseEntered(mouse(appkit::kEventMouseEntered, {15, 25}));
  EXPECT_EQ(parent_->log, (std::vector<std::string>{"down", "entered"}));
}

TEST_F(CustomViewTest, KeysAndFocusGoToTheCallbackUntilTheOwnerGoes) {
  Painter painter;
  auto v = std::make_unique<CustomView>(&painter, nullptr);
  place(*v);
  ASSERT_TRUE(window_->makeFirstResponder(v->view()));
  appkit::inject::key(0, "a");
  appkit::inject::handleQueued();
  // The key-up is not handled: it goes on to the plain view's chain.
  EXPECT_EQ(painter.log, (std::vector<std::string>{"focus", "key a"}));
  EXPECT_EQ(parent_->log, (std::vector<std::string>{"keyUp"}));
  EXPECT_TRUE(window_->makeFirstResponder(nullptr));
  EXPECT_EQ(painter.log.back(), "blur");

  CustomViewOC* view = v->view();
  view->retain();
  v.reset();
  EXPECT_FALSE(view->acceptsFirstResponder());
  EXPECT_FALSE(view->isFlipped());
  EXPECT_FALSE(window_->makeFirstResponder(view));
  view->mouseDown(mouse(appkit::kEventLeftMouseDown, {15, 25}));
  EXPECT_EQ(parent_->log.back(), "down");
  view->release();
}

}  // namespace
}  // namespace ui
