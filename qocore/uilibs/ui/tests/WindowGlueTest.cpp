#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace ui {
namespace {

using appkit::makeRect;

// Records every message as the toolkit's dialog would receive it.
class Recorder : public WindowDelegate {
 public:
  bool canBecomeKeyWindow(appkit::Window*) override { return log("canBecomeKey"), true; }
  bool canBecomeMainWindow(appkit::Window*) override { return log("canBecomeMain"), becomeMain; }
  bool handleWindowEvent(appkit::Window*, appkit::Event* e) override {
    log("event " + std::to_string(e->type()));
    return swallow;
  }
  appkit::Rect constrainFrameRect(appkit::Window*, appkit::Rect frame, appkit::Screen*) override {
    log("constrain");
    frame.origin.y = 0;
    return frame;
  }
  appkit::Rect willPositionSheet(appkit::Window*, appkit::Window*, appkit::Rect rect) override {
    return log("willPositionSheet"), rect;
  }
  void windowDidEndSheet(appkit::Window*) override { log("didEndSheet"); }
  appkit::Size windowWillResize(appkit::Window*, appkit::Size size) override {
    log("willResize");
    return {size.width, 100};
  }
  void windowDidResize(appkit::Window*) override { log("didResize"); }
  void windowDidMiniaturize(appkit::Window*) override { log("didMiniaturize"); }
  void windowDidDeminiaturize(appkit::Window*) override { log("didDeminiaturize"); }
  void windowWillMove(appkit::Window*) override { log("willMove"); }
  void windowDidMove(appkit::Window*) override { log("didMove"); }
  bool windowShouldClose(appkit::Window*) override { return log("shouldClose"), allowClose; }
  void windowWillClose(appkit::Window*) override { log("willClose"); }
  void windowDidBecomeKey(appkit::Window*) override { log("didBecomeKey"); }
  void windowDidResignKey(appkit::Window*) override { log("didResignKey"); }
  void windowWillEnterFullScreen(appkit::Window*) override { log("willEnterFullScreen"); }
  void windowDidEnterFullScreen(appkit::Window*) override { log("didEnterFullScreen"); }
  void windowWillExitFullScreen(appkit::Window*) override { log("willExitFullScreen"); }
  void windowDidExitFullScreen(appkit::Window*) override { log("didExitFullScreen"); }
  unsigned long willUseFullScreenPresentationOptions(appkit::Window*, unsigned long options) override {
    return log("presentation"), options | 4;
  }

  void log(const std::string& what) { messages.push_back(what); }
  std::vector<std::string> messages;
  bool swallow = false;
  bool becomeMain = true;
  bool allowClose = false;
};

// A view that counts the clicks reaching it.
class Target : public appkit::View {
 public:
  using appkit::View::View;
  void mouseDown(appkit::Event*) override { ++downs; }
  int downs = 0;
};

class WindowGlueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
  }
  void TearDown() override { appkit::Application::reset(); }
  objc::AutoreleasePool pool_;
  Recorder recorder_;
  static constexpr uint64_t kStyle = appkit::kWindowStyleTitled | appkit::kWindowStyleClosable |
                                     appkit::kWindowStyleResizable | appkit::kWindowStyleMiniaturizable;
};

TEST_F(WindowGlueTest, EveryWindowMessageReachesTheToolkit) {
  Window window(&recorder_, makeRect(100, 100, 300, 200), kStyle, false);
  appkit::Window* w = window.nativeWindow();
  EXPECT_EQ(w->backingType(), appkit::kBackingStoreBuffered);
  EXPECT_FALSE(w->isReleasedWhenClosed());
  appkit::Application::shared().activateIgnoringOtherApps(true);
  w->makeKeyAndOrderFront(nullptr);
  appkit::inject::deactivate();
  appkit::Application::shared().activateIgnoringOtherApps(true);
  appkit::inject::resize(w, {400, 300});
  appkit::inject::move(w, {50, 60});
  appkit::inject::miniaturize(w);
  w->deminiaturize(nullptr);
  appkit::inject::enterFullScreen(w);
  appkit::inject::exitFullScreen(w);
  appkit::inject::closeButton(w);  // refused
  EXPECT_TRUE(w->isVisible());
  recorder_.allowClose = true;
  appkit::inject::closeButton(w);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(recorder_.messages, (std::vector<std::string>{"canBecomeKey",
                                                          "didBecomeKey",
                                                          "canBecomeMain",
                                                          "canBecomeMain",  // shown
                                                          "didResignKey",
                                                          "didBecomeKey",  // deactivated
                                                          "willResize",
                                                          "didResize",
                                                          "willMove",
                                                          "didMove",  // user resize, move
                                                          "didResignKey",
                                                          "didMiniaturize",  // into the Dock
                                                          "canBecomeKey",
                                                          "didBecomeKey",
                                                          "canBecomeMain",
                                                          "canBecomeMain",  // and back
                                                          "didDeminiaturize",
                                                          "presentation",
                                                          "willEnterFullScreen",
                                                          "didEnterFullScreen",  //
                                                          "willExitFullScreen",
                                                          "didExitFullScreen",
                                                          "shouldClose",
                                                          "shouldClose",
                                                          "willClose",
                                                          "didResignKey"}));
  // The size the delegate answered is the one taken.
  EXPECT_EQ(w->frame().size.height, 100);
  EXPECT_EQ(w->constrainFrameRect(makeRect(5, 5, 10, 10), nullptr), makeRect(5, 0, 10, 10));
}

TEST_F(WindowGlueTest, EventsPassUnlessTheDelegateSwallowsThem) {
  Window window(&recorder_, makeRect(0, 0, 200, 200), kStyle, false);
  appkit::Window* w = window.nativeWindow();
  auto* target = new Target(makeRect(0, 0, 200, 200));
  w->contentView()->addSubview(target);
  target->release();
  w->makeKeyAndOrderFront(nullptr);
  appkit::inject::mouseDown(w, {10, 10});
  appkit::inject::handleQueued();
  EXPECT_EQ(target->downs, 1);
  recorder_.swallow = true;
  appkit::inject::mouseDown(w, {10, 10});
  appkit::inject::handleQueued();
  EXPECT_EQ(target->downs, 1);
  EXPECT_EQ(recorder_.messages.back(), "event " + std::to_string(appkit::kEventLeftMouseDown));
  recorder_.childWindowFlag = true;
  w->orderOut(nullptr);
  EXPECT_FALSE(w->isKeyWindow());
  EXPECT_TRUE(window.window()->hasActiveControls());
}

TEST_F(WindowGlueTest, WithoutDelegateThePlatformRulesApply) {
  Window window(nullptr, makeRect(0, 0, 200, 200), kStyle, false);
  WindowOC* w = window.window();
  EXPECT_EQ(w->cxx, nullptr);
  EXPECT_EQ(w->delegate(), nullptr);
  auto* target = new Target(makeRect(0, 0, 200, 200));
  w->contentView()->addSubview(target);
  target->release();
  w->makeKeyAndOrderFront(nullptr);
  EXPECT_FALSE(w->canBecomeKeyWindow());
  EXPECT_FALSE(w->isKeyWindow());
  EXPECT_TRUE(w->canBecomeMainWindow());
  EXPECT_TRUE(windowSuperCanBecomeMain(w));
  EXPECT_FALSE(w->hasActiveControls());
  appkit::Rect proposed = makeRect(0, 5000, 200, 222);
  EXPECT_EQ(w->constrainFrameRect(proposed, appkit::Screen::mainScreen()), proposed);
  appkit::inject::mouseDown(w, {10, 10});
  appkit::inject::handleQueued();
  EXPECT_EQ(target->downs, 1);
}

TEST_F(WindowGlueTest, LateMessagesAfterTheOwnerEndsDoNothing) {
  auto* window = new Window(&recorder_, makeRect(0, 0, 200, 200), kStyle, false);
  WindowOC* w = window->window();
  w->retain();  // the platform still holds the window
  // A bridge object the platform might keep too.
  WindowDelegateBridge bridge(&recorder_, nullptr);
  WindowDelegateOC* object = bridge.object();
  object->retain();
  delete window;
  recorder_.messages.clear();
  EXPECT_EQ(w->delegate(), nullptr);
  EXPECT_EQ(w->cxx, nullptr);
  EXPECT_FALSE(w->canBecomeKeyWindow());
  object->cxx = nullptr;
  EXPECT_TRUE(object->windowShouldClose(w));
  EXPECT_EQ(object->windowWillResize(w, {12, 34}), (appkit::Size{12, 34}));
  EXPECT_EQ(object->willUseFullScreenPresentationOptions(w, 9), 9u);
  object->windowDidMove(w);
  EXPECT_TRUE(recorder_.messages.empty());
  object->release();
  w->release();
}

TEST_F(WindowGlueTest, PlacementIsTopDownAndClampedToTheVisibleFrame) {
  Window window(nullptr, makeRect(0, 0, 300, 200), kStyle, false);
  appkit::Window* w = window.nativeWindow();
  const double h = 200 + appkit::kTitleBarHeight;
  placeWindow(w, 100, 50, nullptr);
  EXPECT_EQ(w->frame().origin, (appkit::Point{100, 900 - 50 - h}));
  appkit::Screen* screen = appkit::Screen::mainScreen();
  // Top of the visible frame in top-down terms is the menu bar's height.
  struct {
    int x, y;
    appkit::Point topLeft;
  } cases[] = {
      {100, 0, {100, appkit::kMenuBarHeight}},
      {-20, 300, {0, 300}},
      {1400, 890, {1440 - 300, 900 - h}},
  };
  for (const auto& c : cases) {
    placeWindow(w, c.x, c.y, screen);
    EXPECT_EQ(w->frame().origin.x, c.topLeft.x) << c.x;
    EXPECT_EQ(900 - w->frame().maxY(), c.topLeft.y) << c.y;
  }
  // Larger than the visible frame: aligned to its left and top edges.
  w->setFrame(makeRect(0, 0, 2000, 1000));
  placeWindow(w, 300, 300, screen);
  EXPECT_EQ(w->frame().origin.x, 0);
  EXPECT_EQ(900 - w->frame().maxY(), appkit::kMenuBarHeight);
}

TEST_F(WindowGlueTest, ActivationBringsTheWindowForward) {
  Window a(&recorder_, makeRect(0, 0, 100, 100), kStyle, false);
  Window b(&recorder_, makeRect(0, 0, 100, 100), kStyle, false);
  activateWindow(a.nativeWindow());
  activateWindow(b.nativeWindow());
  appkit::inject::deactivate();
  EXPECT_FALSE(appkit::Application::shared().isActive());
  activateApp();
  EXPECT_TRUE(appkit::Application::shared().isActive());
  EXPECT_EQ(appkit::Application::shared().keyWindow(), b.nativeWindow());
  activateWindow(a.nativeWindow());
  EXPECT_EQ(appkit::Application::shared().orderedWindows().front(), a.nativeWindow());
  EXPECT_TRUE(a.nativeWindow()->isKeyWindow());
}

class FrameReceiver : public ViewNotify {
 public:
  void viewFrameChanged(appkit::View* view) override { views.push_back(view); }
  std::vector<appkit::View*> views;
};

TEST_F(WindowGlueTest, FrameChangesReachTheReceiverUntilItEnds) {
  auto* one = new appkit::View(makeRect(0, 0, 10, 10));
  auto* two = new appkit::View(makeRect(0, 0, 10, 10));
  FrameReceiver receiver;
  {
    ViewNotifyCxx notify(&receiver, one);
    one->setFrameSize({20, 20});
    two->setFrameSize({20, 20});
    notify.observe(two);
    two->setFrameSize({30, 30});
  }
  one->setFrameSize({40, 40});
  EXPECT_EQ(receiver.views, (std::vector<appkit::View*>{one, two}));
  one->release();
  two->release();
}

}  // namespace
}  // namespace ui
