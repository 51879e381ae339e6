#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/CoreGraphics.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/TextView.h"
#include "platform/objc/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Timer.h"

namespace appkit {
namespace {

// A view that records the messages it gets.
class RecordingView : public View {
 public:
  RecordingView(Rect frame, bool flipped, std::vector<std::string>* log, const char* name)
      : View(frame), flipped_(flipped), log_(log), name_(name) {}
  bool isFlipped() const override { return flipped_; }
  bool acceptsFirstResponder() override { return accepts; }
  bool resignFirstResponder() override { return resigns; }
  void mouseDown(Event* e) override {
    log_->push_back(name_ + " down " + std::to_string(e->clickCount()));
    if (passOn) View::mouseDown(e);
  }
  void mouseUp(Event*) override { log_->push_back(name_ + " up"); }
  void mouseDragged(Event*) override { log_->push_back(name_ + " drag"); }
  void mouseEntered(Event*) override { log_->push_back(name_ + " entered"); }
  void mouseExited(Event*) override { log_->push_back(name_ + " exited"); }
  void keyDown(Event* e) override {
    log_->push_back(name_ + " key " + std::to_string(e->keyCode()) + " " + e->characters()->utf8());
  }
  bool accepts = false;
  bool resigns = true;
  bool passOn = false;

 private:
  bool flipped_;
  std::vector<std::string>* log_;
  std::string name_;
};

class AppKitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::reset();
    inject::mainDisplay(1440, 900, 1);
  }
  void TearDown() override {
    for (Window* w : windows_) w->release();
    Application::reset();
  }
  Window* window(Rect content, uint64_t style = kWindowStyleTitled | kWindowStyleClosable) {
    Window* w = new Window(content, style);
    w->setReleasedWhenClosed(false);
    windows_.push_back(w);
    return w;
  }
  template <class T>
  T* owned(T* object) {
    objects_.push_back(object);
    return object;
  }

  std::vector<Window*> windows_;
  std::vector<objc::Object*> objects_;
  std::vector<std::string> log_;
  objc::AutoreleasePool pool_;

 public:
  ~AppKitTest() override {
    for (objc::Object* o : objects_) o->release();
  }
};

TEST_F(AppKitTest, ConversionThroughFlippedAndPlainViewsAndToTheScreen) {
  Window* w = window(makeRect(100, 200, 400, 300));
  EXPECT_EQ(w->frame(), makeRect(100, 200, 400, 300 + kTitleBarHeight));
  // A flipped container at the top left of the content, a plain view in
  // it, and a flipped view in that.
  auto* flipped = owned(new RecordingView(makeRect(10, 100, 200, 150), true, &log_, "f"));
  auto* plain = owned(new RecordingView(makeRect(20, 30, 100, 50), false, &log_, "p"));
  auto* inner = owned(new RecordingView(makeRect(5, 10, 40, 20), true, &log_, "i"));
  w->contentView()->addSubview(flipped);
  flipped->addSubview(plain);
  plain->addSubview(inner);

  struct Case {
    View* view;
    Point local;
    Point base;
  } cases[] = {
      {flipped, {0, 0}, {10, 250}},  // top left of the flipped view
      {plain, {0, 0}, {30, 170}},    // bottom left of the plain view: 250 - 30 - 50
      {plain, {0, 50}, {30, 220}},   // its top left
      {inner, {0, 0}, {35, 200}},    // top left of the flipped view inside: plain's (5, 30)
      {inner, {40, 20}, {75, 180}},  // its bottom right: plain's (45, 10)
  };
  for (const Case& c : cases) {
    Point base = c.view->convertPointToView(c.local, nullptr);
    EXPECT_DOUBLE_EQ(base.x, c.base.x);
    EXPECT_DOUBLE_EQ(base.y, c.base.y);
    Point back = c.view->convertPointFromView(base, nullptr);
    EXPECT_DOUBLE_EQ(back.x, c.local.x);
    EXPECT_DOUBLE_EQ(back.y, c.local.y);
  }
  // Between views of one window, and to the screen.
  Point inFlipped = inner->convertPointToView({0, 0}, flipped);
  EXPECT_EQ(inFlipped, (Point{25, 50}));
  EXPECT_EQ(w->convertBaseToScreen({10, 250}), (Point{110, 450}));
  Rect r = inner->convertRectToView(inner->bounds(), nullptr);
  EXPECT_EQ(r, makeRect(35, 180, 40, 20));
}

TEST_F(AppKitTest, HitTestFindsTheDeepestVisibleView) {
  Window* w = window(makeRect(0, 0, 400, 300));
  auto* flipped = owned(new RecordingView(makeRect(0, 0, 400, 300), true, &log_, "f"));
  auto* a = owned(new RecordingView(makeRect(10, 10, 100, 100), true, &log_, "a"));
  auto* b = owned(new RecordingView(makeRect(50, 50, 100, 100), true, &log_, "b"));
  w->setContentView(flipped);
  flipped->addSubview(a);
  flipped->addSubview(b);
  // Base (60, 240) is flipped (60, 60): both overlap there, b is above.
  EXPECT_EQ(flipped->hitTest({60, 240}), b);
  EXPECT_EQ(flipped->hitTest({20, 280}), a);
  b->setHidden(true);
  EXPECT_EQ(flipped->hitTest({60, 240}), a);
  EXPECT_EQ(flipped->hitTest({390, 10}), flipped);
  EXPECT_EQ(flipped->hitTest({500, 10}), nullptr);
}

TEST_F(AppKitTest, AContentViewMovedIntoAnotherWindowLeavesItsOwn) {
  Window* from = window(makeRect(0, 0, 200, 100));
  Window* to = window(makeRect(0, 0, 400, 300));
  auto* content = owned(new RecordingView(makeRect(0, 0, 200, 100), true, &log_, "c"));
  auto* target = owned(new RecordingView(makeRect(0, 0, 400, 300), true, &log_, "t"));
  content->accepts = true;
  from->setContentView(content);
  to->setContentView(target);
  from->makeFirstResponder(content);
  target->addSubview(content);
  EXPECT_EQ(from->contentView(), nullptr);
  EXPECT_EQ(from->firstResponder(), from);
  EXPECT_EQ(content->superview(), target);
  EXPECT_EQ(content->window(), to);
  // The old window's resizing no longer reaches it.
  from->setFrame(makeRect(0, 0, 300, 300), false);
  EXPECT_EQ(content->frame().size, (Size{200, 100}));
  // Any other view without a superview stays as it is.
  auto* loose = owned(new RecordingView(makeRect(0, 0, 10, 10), true, &log_, "l"));
  loose->removeFromSuperview();
  EXPECT_EQ(loose->superview(), nullptr);
}

// A view whose mouse handler of one kind throws, once.
class ThrowingView : public View {
 public:
  enum class Stage { kDown, kDrag, kUp };
  ThrowingView(Rect frame, Stage stage) : View(frame), stage_(stage) {}
  void mouseDown(Event*) override { maybeThrow(Stage::kDown); }
  void mouseDragged(Event*) override { maybeThrow(Stage::kDrag); }
  void mouseUp(Event*) override { maybeThrow(Stage::kUp); }

 private:
  void maybeThrow(Stage stage) {
    if (stage != stage_ || thrown_) return;
    thrown_ = true;
    throw plat::Exception("handler failed");
  }
  Stage stage_;
  bool thrown_ = false;
};

TEST_F(AppKitTest, AThrowingMouseHandlerLeavesTheViewItsOwnReferencesOnly) {
  for (ThrowingView::Stage stage : {ThrowingView::Stage::kDown, ThrowingView::Stage::kDrag, ThrowingView::Stage::kUp}) {
    Window* w = window(makeRect(0, 0, 200, 200));
    auto* view = owned(new ThrowingView(makeRect(0, 0, 200, 200), stage));
    w->contentView()->addSubview(view);
    w->makeKeyAndOrderFront(nullptr);
    const int held = view->retainCount();  // ours and the superview's
    inject::drag(w, {10, 10}, {50, 50}, 2);
    EXPECT_THROW(inject::handleQueued(), plat::Exception) << static_cast<int>(stage);
    // The events after the throw are still queued.
    inject::handleQueued();
    EXPECT_EQ(view->retainCount(), held) << static_cast<int>(stage);
  }
}

// Observes frame changes and re-lays out from inside the notification.
// Asks for an I-beam over its bounds whenever the window resets the
// cursor rectangles.
class CursorView : public View {
 public:
  using View::View;
  void resetCursorRects() override {
    ++resets;
    addCursorRect(bounds(), kCursorIBeam);
  }
  int resets = 0;
};

TEST_F(AppKitTest, SubviewsGoInFrontOfOrBehindASibling) {
  auto* parent = owned(new View(makeRect(0, 0, 100, 100)));
  auto* a = owned(new View);
  auto* b = owned(new View);
  auto* c = owned(new View);
  auto* stranger = owned(new View);
  parent->addSubview(a);
  parent->addSubview(b, kSubviewBelow, a);
  EXPECT_EQ(parent->subviews(), (std::vector<View*>{b, a}));
  parent->addSubview(c, kSubviewAbove, b);
  EXPECT_EQ(parent->subviews(), (std::vector<View*>{b, c, a}));
  // Moving one that is there already, and placing by a view that is not.
  parent->addSubview(b, kSubviewAbove, a);
  EXPECT_EQ(parent->subviews(), (std::vector<View*>{c, a, b}));
  parent->addSubview(b, kSubviewBelow, stranger);
  EXPECT_EQ(parent->subviews(), (std::vector<View*>{b, c, a}));
  parent->addSubview(b, kSubviewAbove, nullptr);
  EXPECT_EQ(parent->subviews(), (std::vector<View*>{c, a, b}));
  EXPECT_EQ(b->superview(), parent);
}

TEST_F(AppKitTest, WindowsResetTheCursorRectanglesOfTheirShownViews) {
  Window* w = window(makeRect(0, 0, 200, 100));
  auto* shown = owned(new CursorView(makeRect(0, 0, 50, 50)));
  auto* hidden = owned(new CursorView(makeRect(50, 0, 50, 50)));
  auto* inner = owned(new CursorView(makeRect(0, 0, 10, 10)));
  w->contentView()->addSubview(shown);
  w->contentView()->addSubview(hidden);
  hidden->addSubview(inner);
  hidden->addCursorRect(makeRect(0, 0, 1, 1), kCursorArrow);
  hidden->setHidden(true);
  EXPECT_TRUE(w->areCursorRectsEnabled());
  w->disableCursorRects();
  EXPECT_FALSE(w->areCursorRectsEnabled());
  w->enableCursorRects();
  w->resetCursorRects();
  w->resetCursorRects();
  EXPECT_EQ(shown->resets, 2);
  ASSERT_EQ(shown->cursorRects().size(), 1u);
  EXPECT_EQ(shown->cursorRects()[0].rect, makeRect(0, 0, 50, 50));
  // A hidden view keeps none, nor do the views inside it.
  EXPECT_EQ(hidden->resets + inner->resets, 0);
  EXPECT_TRUE(hidden->cursorRects().empty());
}

class LayoutObserver : public objc::Object {
 public:
  void perform(const char* selector, objc::Object* argument) override {
    ASSERT_STREQ(selector, "frameChanged:");
    auto* n = static_cast<objc::Notification*>(argument);
    seen.push_back(static_cast<View*>(n->object()));
    // The child follows its parent's width: a nested frame change.
    if (n->object() == parent) child->setFrameSize({parent->frame().size.width / 2, 10});
  }
  View* parent = nullptr;
  View* child = nullptr;
  std::vector<View*> seen;
};

TEST_F(AppKitTest, FrameChangesAreAnnouncedAtOnceAndReentrantly) {
  auto* parent = owned(new View(makeRect(0, 0, 100, 100)));
  auto* child = owned(new View(makeRect(0, 0, 50, 10)));
  parent->addSubview(child);
  LayoutObserver* observer = owned(new LayoutObserver);
  observer->parent = parent;
  observer->child = child;
  auto& centre = objc::NotificationCenter::defaultCenter();
  centre.addObserver(observer, "frameChanged:", kViewFrameDidChangeNotification, parent);
  centre.addObserver(observer, "frameChanged:", kViewFrameDidChangeNotification, child);
  parent->setFrameSize({300, 100});
  EXPECT_EQ(child->frame().size.width, 150);
  EXPECT_EQ(observer->seen, (std::vector<View*>{parent, child}));
  // No change, no notice; a view that does not post stays silent.
  parent->setFrameSize({300, 100});
  child->setPostsFrameChangedNotifications(false);
  parent->setFrameSize({400, 100});
  EXPECT_EQ(child->frame().size.width, 200);
  EXPECT_EQ(observer->seen.size(), 3u);
  centre.removeObserver(observer);
}

// An action receiver outside the responder chain.
class Receiver : public ActionTarget {
 public:
  bool respondsToAction(Sel action) const override { return action == selector("pressed:"); }
  void performAction(Sel action, objc::Object* sender) override { got.push_back({action, sender}); }
  std::vector<std::pair<Sel, objc::Object*>> got;
};

TEST_F(AppKitTest, EventPipelineFromFilterToTargetAndResponderChain) {
  Application& app = Application::shared();
  std::vector<int> filtered;
  app.setEventFilter([&](Event* e) {
    filtered.push_back(e->type());
    return e->type() == kEventRightMouseDown;  // consumed here
  });
  Window* w = window(makeRect(0, 0, 400, 300));
  auto* root = owned(new RecordingView(makeRect(0, 0, 400, 300), true, &log_, "root"));
  w->setContentView(root);
  auto* button = owned(new Button(makeRect(10, 10, 80, 30)));
  root->addSubview(button);
  Receiver receiver;
  button->setTarget(&receiver);
  button->setAction(selector("pressed:"));
  w->makeKeyAndOrderFront(nullptr);

  inject::click(w, {20, 280});  // inside the button (flipped y 20)
  inject::rightClick(w, {20, 280});
  inject::handleQueued();
  ASSERT_EQ(receiver.got.size(), 1u);
  EXPECT_EQ(receiver.got[0].first, selector("pressed:"));
  EXPECT_EQ(receiver.got[0].second, button);
  EXPECT_EQ(filtered,
            (std::vector<int>{kEventLeftMouseDown, kEventLeftMouseUp, kEventRightMouseDown, kEventRightMouseUp}));

  // A nil-targeted action goes along the key window's responder chain,
  // then to the application.
  button->setTarget(nullptr);
  button->setAction(selector("save:"));
  int rootSaves = 0, appSaves = 0;
  root->setActionHandler(selector("save:"), [&](objc::Object*) { ++rootSaves; });
  app.setActionHandler(selector("save:"), [&](objc::Object*) { ++appSaves; });
  w->makeFirstResponder(button);
  button->performClick();
  EXPECT_EQ(rootSaves, 1);
  root->setActionHandler(selector("save:"), nullptr);
  button->performClick();
  EXPECT_EQ(appSaves, 1);
  app.setActionHandler(selector("save:"), nullptr);
  EXPECT_FALSE(button->sendAction(selector("save:"), nullptr));
}

TEST_F(AppKitTest, ClickCountsFollowTheDoubleClickInterval) {
  Window* w = window(makeRect(0, 0, 200, 200));
  auto* root = owned(new RecordingView(makeRect(0, 0, 200, 200), true, &log_, "v"));
  w->setContentView(root);
  w->makeKeyAndOrderFront(nullptr);
  static plat::TimeValue fake = 1'000'000'000;
  auto previous = plat::setMonotonicClock([](plat::TimeValue, bool*) { return fake; });
  inject::click(w, {10, 10});
  fake += 100 * plat::kTicksPerMs;
  inject::click(w, {11, 11});
  fake += (kDoubleClickIntervalMs + 1) * plat::kTicksPerMs;
  inject::click(w, {11, 11});
  fake += 10 * plat::kTicksPerMs;
  inject::click(w, {100, 100});  // too far away
  plat::setMonotonicClock(previous);
  inject::handleQueued();
  EXPECT_EQ(log_,
            (std::vector<std::string>{"v down 1", "v up", "v down 2", "v up", "v down 1", "v up", "v down 1", "v up"}));
}

TEST_F(AppKitTest, KeysReachTheFirstResponderAndReturnTheDefaultButton) {
  Window* w = window(makeRect(0, 0, 200, 200));
  auto* root = owned(new RecordingView(makeRect(0, 0, 200, 200), true, &log_, "root"));
  auto* a = owned(new RecordingView(makeRect(0, 0, 50, 50), true, &log_, "a"));
  auto* b = owned(new RecordingView(makeRect(60, 0, 50, 50), true, &log_, "b"));
  w->setContentView(root);
  root->addSubview(a);
  root->addSubview(b);
  auto* ok = owned(new Button(makeRect(100, 100, 80, 30)));
  root->addSubview(ok);
  Receiver receiver;
  ok->setTarget(&receiver);
  ok->setAction(selector("pressed:"));
  w->setDefaultButton(ok);
  w->makeKeyAndOrderFront(nullptr);
  a->accepts = b->accepts = true;

  EXPECT_TRUE(w->makeFirstResponder(a));
  inject::keyDown(0, "a");
  // A responder that refuses to resign keeps the focus.
  a->resigns = false;
  EXPECT_FALSE(w->makeFirstResponder(b));
  EXPECT_EQ(w->firstResponder(), a);
  a->resigns = true;
  // A click on a view that accepts makes it first responder.
  inject::click(w, {70, 190});
  inject::keyDown(11, "b");
  inject::handleQueued();
  EXPECT_EQ(w->firstResponder(), b);
  EXPECT_EQ(log_, (std::vector<std::string>{"a key 0 a", "b down 1", "b up", "b key 11 b"}));

  // Return with no view taking it reaches the window's default button.
  log_.clear();
  EXPECT_TRUE(w->makeFirstResponder(nullptr));
  inject::keyDown(36, "\r");
  inject::handleQueued();
  EXPECT_EQ(receiver.got.size(), 1u);
  EXPECT_TRUE(log_.empty());
}

TEST_F(AppKitTest, OneFieldEditorPerWindowFollowsTheEditedField) {
  Window* w = window(makeRect(0, 0, 200, 200));
  auto* one = owned(new Control(makeRect(0, 0, 100, 21)));
  auto* two = owned(new Control(makeRect(0, 30, 100, 21)));
  w->contentView()->addSubview(one);
  w->contentView()->addSubview(two);
  EXPECT_EQ(w->fieldEditor(false), nullptr);
  ASSERT_TRUE(w->beginFieldEditing(one));
  FieldEditor* editor = w->fieldEditor(false);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(w->firstResponder(), editor);
  EXPECT_EQ(editor->delegate(), one);
  EXPECT_EQ(editor->superview(), one);
  ASSERT_TRUE(w->beginFieldEditing(two));
  EXPECT_EQ(w->fieldEditor(true), editor);
  EXPECT_EQ(editor->delegate(), two);
  EXPECT_TRUE(w->makeFirstResponder(nullptr));
  EXPECT_EQ(editor->delegate(), nullptr);
  EXPECT_EQ(editor->superview(), nullptr);
}

TEST_F(AppKitTest, GlobalMonitorsSeeOnlyOtherApplicationsEvents) {
  Application& app = Application::shared();
  std::vector<Point> seen;
  long id =
      app.addGlobalMonitor(eventMaskFor(kEventLeftMouseDown), [&](Event* e) { seen.push_back(e->locationInWindow()); });
  Window* w = window(makeRect(0, 0, 100, 100));
  w->makeKeyAndOrderFront(nullptr);
  int filtered = 0;
  app.setEventFilter([&](Event*) { return ++filtered, false; });
  inject::click(w, {5, 5});
  inject::foreignMouseDown({700, 20});
  inject::handleQueued();
  EXPECT_EQ(seen, (std::vector<Point>{{700, 20}}));
  EXPECT_EQ(filtered, 2);
  app.removeMonitor(id);
  inject::foreignMouseDown({1, 1});
  inject::handleQueued();
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(AppKitTest, TrackingAreasReportEnteringAndLeaving) {
  Window* w = window(makeRect(100, 100, 200, 200));
  auto* root = owned(new RecordingView(makeRect(0, 0, 200, 200), true, &log_, "root"));
  w->setContentView(root);
  auto* owner = owned(new RecordingView({}, false, &log_, "owner"));
  auto* area =
      owned(new TrackingArea(makeRect(0, 0, 50, 50), kTrackingMouseEnteredAndExited | kTrackingActiveAlways, owner));
  root->addTrackingArea(area);
  w->orderFront(nullptr);
  inject::movePointer({110, 290});  // flipped (10, 10) of the root
  inject::movePointer({120, 280});
  inject::movePointer({250, 150});
  EXPECT_EQ(log_, (std::vector<std::string>{"owner entered", "owner exited"}));
  EXPECT_EQ(Event::mouseLocation(), (Point{250, 150}));
}

TEST_F(AppKitTest, ScreensAndDisplayBoundsAgree) {
  Screen::configure({{makeRect(0, 0, 1920, 1080), 2}, {makeRect(1920, 200, 1280, 800), 1}});
  const auto& screens = Screen::screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0]->backingScaleFactor(), 2);
  EXPECT_EQ(screens[0]->visibleFrame(), makeRect(0, 0, 1920, 1080 - kMenuBarHeight));
  EXPECT_EQ(screens[1]->visibleFrame(), screens[1]->frame());
  EXPECT_EQ(displayBounds(mainDisplayId()), makeRect(0, 0, 1920, 1080));
  // Top-down: the second display's top is 1080 - 1000 = 80 below the top.
  EXPECT_EQ(displayBounds(screens[1]->screenNumber()), makeRect(1920, 80, 1280, 800));
  EXPECT_EQ(displayBounds(99), Rect{});
  Window* w = window(makeRect(2000, 300, 100, 100));
  EXPECT_EQ(w->screen(), screens[1]);
}

TEST_F(AppKitTest, StopEndsTheInnermostLoopAndModalLoopsServeTheRunLoop) {
  Application& app = Application::shared();
  Window* main = window(makeRect(0, 0, 300, 300));
  Window* dialog = window(makeRect(50, 50, 100, 100));
  main->makeKeyAndOrderFront(nullptr);
  std::vector<std::string> steps;
  struct Delegate : ApplicationDelegate {
    std::vector<std::string>* steps;
    void applicationWillFinishLaunching() override { steps->push_back("will"); }
    void applicationDidFinishLaunching() override { steps->push_back("did"); }
    void applicationOpenUrl(const char* url) override { steps->push_back(std::string("url ") + url); }
  } delegate;
  delegate.steps = &steps;
  app.setDelegate(&delegate);
  app.openUrl("early://x");

  // A timer of the run loop opens the dialog; inside it a timer fires,
  // an application-defined event is handled, and stop ends only the
  // modal loop.  Clicks on the main window are dropped meanwhile.
  struct Step : plat::Timer::Callback {
    std::function<void()> fn;
    bool timerExpired(plat::Timer*) override { return fn(), false; }
  };
  Step open, inner;
  plat::Timer openTimer(&open), innerTimer(&inner);
  int mainClicks = 0;
  auto* mainView = owned(new RecordingView(makeRect(0, 0, 300, 300), true, &log_, "main"));
  main->setContentView(mainView);
  std::vector<short> appEvents;
  inner.fn = [&] {
    steps.push_back("inner timer");
    inject::click(main, {10, 10});
    app.postEvent(Event::otherEvent(kEventApplicationDefined, {}, 0, 0, 0, 7, 0, 0), false);
    app.postEvent(Event::otherEvent(kEventApplicationDefined, {}, 0, 0, 0, 8, 0, 0), false);
  };
  open.fn = [&] {
    innerTimer.start(1);
    app.setEventFilter([&](Event* e) {
      if (e->type() == kEventLeftMouseDown && e->window() == main) ++mainClicks;
      if (e->type() == kEventApplicationDefined) {
        appEvents.push_back(e->subtype());
        if (e->subtype() == 8) app.stop(nullptr);
      }
      return false;
    });
    long code = app.runModalForWindow(dialog);
    steps.push_back("modal " + std::to_string(code));
    app.openUrl("late://y");
    app.stop(nullptr);
  };
  // The plat timers run on the run loop, as the application loop drives
  // them.
  auto& loop = runloop::RunLoop::current();
  plat::TimerManager manager(plat::TimerManager::current() != nullptr);
  struct Pump : plat::TimerManager::Callback {
    plat::TimerManager* manager;
    void arm(int ms) {
      auto& l = runloop::RunLoop::current();
      if (ms < 0) return l.clearTimer();
      l.setTimerFireTime(plat::getMonotonicTime() + ms * plat::kTicksPerMs);
    }
    void timersChanged(int ms) override { arm(ms); }
  } pump;
  pump.manager = &manager;
  loop.setTimerCallout([&] { pump.arm(manager.processTimers()); });
  manager.setCallback(&pump);
  openTimer.start(1);
  app.run();
  manager.setCallback(nullptr);
  loop.clearTimer();
  loop.setTimerCallout(nullptr);
  EXPECT_EQ(steps, (std::vector<std::string>{"will", "url early://x", "did", "inner timer",
                                             "modal " + std::to_string(kModalResponseStop)}));
  EXPECT_EQ(appEvents, (std::vector<short>{7, 8}));
  EXPECT_EQ(mainClicks, 0);
  // The late URL arrives as an event; the next loop turn delivers it.
  inject::handleQueued();
  EXPECT_EQ(steps.back(), "url late://y");
  app.setDelegate(nullptr);
}

TEST_F(AppKitTest, AnExceptionLeavesEveryLoopAndRestoresTheModalState) {
  Application& app = Application::shared();
  Window* dialog = window(makeRect(0, 0, 100, 100));
  app.setEventFilter([&](Event* e) -> bool {
    if (e->type() != kEventApplicationDefined) return false;
    if (e->subtype() == 1) {
      app.postEvent(Event::otherEvent(kEventApplicationDefined, {}, 0, 0, 0, 2, 0, 0), false);
      app.runModalForWindow(dialog);
    } else {
      throw plat::Exception("out");
    }
    return true;
  });
  app.postEvent(Event::otherEvent(kEventApplicationDefined, {}, 0, 0, 0, 1, 0, 0), false);
  EXPECT_THROW(app.run(), plat::Exception);
  EXPECT_FALSE(app.isRunning());
  EXPECT_EQ(app.modalWindow(), nullptr);
  EXPECT_EQ(app.currentEvent(), nullptr);
}

TEST_F(AppKitTest, EachWindowsStopEndsItsOwnModalSession) {
  Application& app = Application::shared();
  Window* outer = window(makeRect(0, 0, 300, 200));
  Window* inner = window(makeRect(50, 50, 100, 80));
  Window* polled = window(makeRect(10, 10, 100, 80));
  auto appEvent = [](short subtype) { return Event::otherEvent(kEventApplicationDefined, {}, 0, 0, 0, subtype, 0, 0); };
  std::vector<std::string> steps;
  app.setEventFilter([&](Event* e) {
    if (e->type() != kEventApplicationDefined) return false;
    switch (e->subtype()) {
      case 1:  // inside the outer loop
        app.postEvent(appEvent(2), false);
        steps.push_back("inner " + std::to_string(app.runModalForWindow(inner)));
        break;
      case 2:  // inside the inner loop: the outer one is stopped first
        app.stopModalForWindowWithCode(outer, 7);
        app.postEvent(appEvent(3), false);
        break;
      case 3:
        steps.push_back(app.modalWindow() == inner ? "inner still runs" : "inner stopped");
        app.stopModalForWindowWithCode(inner, 8);
        break;
    }
    return true;
  });
  app.postEvent(appEvent(1), false);
  steps.push_back("outer " + std::to_string(app.runModalForWindow(outer)));
  EXPECT_EQ(steps, (std::vector<std::string>{"inner still runs", "inner 8", "outer 7"}));
  // A session without a loop of its own answers from its next turn; a
  // window without a session is no one's to stop.
  ModalSession* session = app.beginModalSession(polled);
  EXPECT_EQ(app.runModalSession(session), kModalResponseContinue);
  app.stopModalForWindow(outer);
  app.stopModalForWindowWithCode(polled, 9);
  EXPECT_EQ(app.runModalSession(session), 9);
  app.endModalSession(session);
  EXPECT_EQ(app.modalWindow(), nullptr);
  app.setEventFilter(nullptr);
}

TEST_F(AppKitTest, PostedUnicodeKeysReachTheKeyWindow) {
  Window* w = window(makeRect(0, 0, 100, 100));
  auto* root = owned(new RecordingView(makeRect(0, 0, 100, 100), true, &log_, "r"));
  w->setContentView(root);
  w->makeKeyAndOrderFront(nullptr);
  root->accepts = true;
  ASSERT_TRUE(w->makeFirstResponder(root));
  postedKeyboardEvents().clear();
  KeyboardEvent* e = createKeyboardEvent(nullptr, 112, true);
  uint16_t unit = 0x00E9;
  keyboardSetUnicodeString(e, 1, &unit);
  postKeyboardEvent(kSessionEventTap, e);
  releaseKeyboardEvent(e);
  inject::handleQueued();
  ASSERT_EQ(postedKeyboardEvents().size(), 1u);
  EXPECT_EQ(postedKeyboardEvents()[0].tap, kSessionEventTap);
  EXPECT_EQ(log_, (std::vector<std::string>{"r key 112 \xC3\xA9"}));
}

// An application that stops as the program's loop does: a quit request
// event, then stop: and a wake event; a wake event reaching a loop that
// still runs (the stop ended a nested one) stops that loop too.
class QuittingApp : public Application {
 public:
  static constexpr short kQuit = 0x7c17;
  static constexpr short kWake = 0x7c18;
  static Event* appEvent(short subtype) {
    return Event::otherEvent(kEventApplicationDefined, {}, 0, 0, 0, subtype, 0, 0);
  }
  void quit(int code) {
    quitting = true;
    exitCode = code;
    postEvent(appEvent(kQuit), false);
  }
  void sendEvent(Event* e) override {
    if (quitting && e->type() == kEventApplicationDefined && (e->subtype() == kQuit || e->subtype() == kWake)) {
      stop(nullptr);
      if (e->subtype() == kQuit || loopDepth() > 1) postEvent(appEvent(kWake), false);
      return;
    }
    Application::sendEvent(e);
  }
  bool quitting = false;
  int exitCode = 0;
};

TEST_F(AppKitTest, QuitInsideNestedModalLoopsEndsEveryLoop) {
  auto* app = new QuittingApp;
  Application::install(app);
  Window* dialog = window(makeRect(0, 0, 300, 200));
  Window* box = window(makeRect(50, 50, 100, 80));
  std::vector<std::string> steps;
  app->setEventFilter([&](Event* e) {
    if (e->type() != kEventApplicationDefined) return false;
    if (e->subtype() == 1) {
      app->postEvent(QuittingApp::appEvent(2), false);
      steps.push_back("dialog " + std::to_string(app->runModalForWindow(dialog)));
    } else if (e->subtype() == 2) {
      // The signal arrives while the message box runs inside the dialog.
      app->quit(143);
      steps.push_back("box " + std::to_string(app->runModalForWindow(box)));
    }
    return true;
  });
  app->postEvent(QuittingApp::appEvent(1), false);
  app->run();
  EXPECT_EQ(app->exitCode, 143);
  EXPECT_EQ(steps, (std::vector<std::string>{"box " + std::to_string(kModalResponseStop),
                                             "dialog " + std::to_string(kModalResponseStop)}));
  EXPECT_FALSE(app->isRunning());
  EXPECT_EQ(app->modalWindow(), nullptr);
  EXPECT_EQ(app->queuedEvents(), 0u);
}

}  // namespace
}  // namespace appkit

namespace appkit {
namespace {

TEST(CursorTest, PushedCursorsComeBackInOrder) {
  Cursor::reset();
  Cursor::set(kCursorIBeam);
  Cursor::push(kCursorPointingHand);
  Cursor::push(kCursorResizeLeftRight);
  EXPECT_EQ(Cursor::stack(), (std::vector<int>{kCursorIBeam, kCursorPointingHand}));
  Cursor::pop();
  EXPECT_EQ(Cursor::current(), kCursorPointingHand);
  Cursor::pop();
  Cursor::pop();
  EXPECT_EQ(Cursor::current(), kCursorArrow);
  EXPECT_TRUE(Cursor::stack().empty());
}

}  // namespace
}  // namespace appkit
