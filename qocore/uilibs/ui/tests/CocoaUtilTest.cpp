#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextField.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace ui {
namespace {

using appkit::makeRect;

// Has only a label.
class Labelled : public objc::Object, public appkit::LabelSetter {
 public:
  void setLabel(const char* label) override { text = label; }
  std::string text;
};

class CocoaUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
  }
  void TearDown() override {
    for (objc::Object* o : owned_) o->release();
    appkit::Application::reset();
  }
  template <class T>
  T* own(T* object) {
    owned_.push_back(object);
    return object;
  }
  appkit::Window* window(appkit::Rect content) {
    auto* w = own(new appkit::Window(content, appkit::kWindowStyleTitled));
    w->setReleasedWhenClosed(false);
    return w;
  }
  objc::AutoreleasePool pool_;
  std::vector<objc::Object*> owned_;
};

TEST_F(CocoaUtilTest, TextGoesToTheFirstSetterTheObjectHas) {
  auto* button = own(new appkit::Button);
  auto* field = own(new appkit::Control);
  auto* labelled = own(new Labelled);
  auto* plain = own(new appkit::View);
  appkit::Window* w = window(makeRect(0, 0, 10, 10));
  setControlText(button, "OK");
  setControlText(field, "typed");
  setControlText(labelled, "tab");
  setControlText(plain, "nothing");
  setControlText(w, nullptr);
  EXPECT_STREQ(button->title(), "OK");
  EXPECT_STREQ(button->stringValue(), "");
  EXPECT_STREQ(field->stringValue(), "typed");
  EXPECT_EQ(labelled->text, "tab");
  EXPECT_STREQ(w->title(), "");
}

TEST_F(CocoaUtilTest, MnemonicsAndKeyEquivalents) {
  char text[] =
      "&\xC3\x9C"
      "bernehmen";
  EXPECT_EQ(mnemonicChar(text), 0xFCu);
  EXPECT_STREQ(text,
               "\xC3\x9C"
               "bernehmen");
  auto* button = own(new appkit::Button);
  EXPECT_EQ(setMnemonicKeyEquivalent(button, "Sa&ve", false), 'v');
  EXPECT_STREQ(button->keyEquivalent(), "");
  EXPECT_EQ(setMnemonicKeyEquivalent(button, "&Open", true), 'o');
  EXPECT_STREQ(button->keyEquivalent(), "o");
  EXPECT_EQ(setMnemonicKeyEquivalent(button, "A && B", true), 0);
  EXPECT_STREQ(button->keyEquivalent(), "o");
}

TEST_F(CocoaUtilTest, EventCharIsOneRealCharacter) {
  struct {
    const char* chars;
    uint16_t expected;
  } cases[] = {
      {"a", 'a'},
      {"\xC3\xA9", 0xE9},
      {"ab", 0},
      {"", 0},
      {"\xF0\x9F\x98\x80", 0},   // two units: a surrogate pair
      {"\xEF\xB7\x90", 0},       // U+FDD0
      {"\xEF\xBF\xBF", 0},       // U+FFFF
      {"\xEF\x9C\x84", 0xF704},  // F1's private-use character
  };
  for (const auto& c : cases) {
    appkit::Event* e = appkit::Event::keyEvent(appkit::kEventKeyDown, {}, 0, 0, 0, c.chars, c.chars, false, 0);
    EXPECT_EQ(eventChar(e), c.expected) << c.chars;
  }
  EXPECT_EQ(eventChar(appkit::Event::mouseEvent(appkit::kEventLeftMouseDown, {}, 0, 0, 0, 0, 1, 1)), 0);
}

TEST_F(CocoaUtilTest, FittingSizeCanRestoreTheFrame) {
  auto* button = own(new appkit::Button(makeRect(5, 5, 300, 50)));
  button->setTitle("Go");
  appkit::Size fitted = fittingSize(button, true);
  EXPECT_EQ(fitted.width, 2 * appkit::kCharacterWidth + 2 * appkit::kButtonPadding);
  EXPECT_EQ(fitted.height, appkit::kButtonHeight);
  EXPECT_EQ(button->frame(), makeRect(5, 5, 300, 50));
  EXPECT_EQ(fittingSize(button, false), fitted);
  EXPECT_EQ(button->frame().size, fitted);
}

TEST_F(CocoaUtilTest, ScreenConversionFocusAndChildWindows) {
  appkit::Window* w = window(makeRect(100, 100, 400, 300));
  auto* root = own(new NSViewFlipped(makeRect(0, 0, 400, 300)));
  w->setContentView(root);
  auto* field = own(new NSControlFlipped(makeRect(10, 20, 100, 21)));
  root->addSubview(field);
  EXPECT_EQ(viewToScreen(field, {0, 0}), (appkit::Point{110, 380}));
  EXPECT_EQ(screenToView(field, {110, 380}), (appkit::Point{0, 0}));
  EXPECT_EQ(viewRectToScreen(field, field->bounds()), makeRect(110, 359, 100, 21));

  // A text field has the focus while the field editor edits it; a
  // control that is no text field only when it is the first responder.
  auto* text = own(new appkit::TextField(makeRect(10, 60, 100, 21)));
  root->addSubview(text);
  EXPECT_FALSE(isFirstResponder(nullptr));
  EXPECT_FALSE(isFirstResponder(text));
  ASSERT_TRUE(w->makeFirstResponder(text));
  EXPECT_NE(w->firstResponder(), text);
  EXPECT_TRUE(isFirstResponder(text));
  EXPECT_FALSE(isFirstResponder(root));
  ASSERT_TRUE(w->beginFieldEditing(field));
  EXPECT_FALSE(isFirstResponder(field));
  EXPECT_FALSE(isFirstResponder(text));
  ASSERT_TRUE(w->beginFieldEditing(text));
  endFieldEditing(w);
  EXPECT_FALSE(isFirstResponder(text));
  EXPECT_EQ(w->firstResponder(), w);
  // Without a field editor, ending editing leaves the focus alone.
  field->setEnabled(true);
  ASSERT_TRUE(w->makeFirstResponder(field));
  EXPECT_TRUE(isFirstResponder(field));
  endFieldEditing(w);
  EXPECT_EQ(w->firstResponder(), field);

  // A glue window as the child class, a plain one that is not.
  Window child(nullptr, makeRect(150, 150, 50, 50), appkit::kWindowStyleBorderless, false);
  appkit::Window* other = window(makeRect(300, 150, 50, 50));
  w->orderFront(nullptr);
  w->addChildWindow(child.nativeWindow());
  w->addChildWindow(other);
  auto at = [](appkit::Point screen) {
    return appkit::Event::mouseEvent(appkit::kEventLeftMouseDown, screen, 0, 0, 0, 0, 1, 1);
  };
  EXPECT_TRUE(mouseInChildWindow<WindowOC>(at({160, 160}), w));
  EXPECT_FALSE(mouseInChildWindow<WindowOC>(at({310, 160}), w));
  EXPECT_TRUE(mouseInChildWindow<appkit::Window>(at({310, 160}), w));
  child.nativeWindow()->orderOut(nullptr);
  EXPECT_FALSE(mouseInChildWindow<WindowOC>(at({160, 160}), w));

  appkit::Event* down = appkit::Event::mouseEvent(appkit::kEventLeftMouseDown, {20, 30}, appkit::kModifierShift, 7.5,
                                                  w->windowNumber(), 42, 2, 1);
  appkit::Event* moved = retargetMouseEvent(down, other);
  EXPECT_EQ(moved->window(), other);
  EXPECT_EQ(moved->locationOnScreen(), down->locationOnScreen());
  EXPECT_EQ(moved->locationInWindow(), (appkit::Point{-180, -20}));
  EXPECT_EQ(moved->clickCount(), 2);
  EXPECT_EQ(moved->eventNumber(), 42);
  EXPECT_EQ(moved->modifierFlags(), appkit::kModifierShift);
  child.nativeWindow()->orderFront(nullptr);
  w->removeChildWindow(child.nativeWindow());
}

TEST_F(CocoaUtilTest, ScreenNumbersAndKeyboardAccess) {
  appkit::Screen::configure({{makeRect(0, 0, 1000, 800), 2}, {makeRect(1000, 0, 800, 600), 1}});
  for (appkit::Screen* s : appkit::Screen::screens()) EXPECT_EQ(screenWithNumber(screenNumber(s)), s);
  EXPECT_EQ(screenWithNumber(77), nullptr);
  EXPECT_FALSE(fullKeyboardAccess());
  appkit::Application::shared().setFullKeyboardAccessEnabled(true);
  EXPECT_TRUE(fullKeyboardAccess());
}

plat::TimeValue fakeNow = 5'000'000'000;

TEST_F(CocoaUtilTest, ViewAutoHiderFollowsThePointer) {
  auto previous = plat::setMonotonicClock([](plat::TimeValue, bool*) { return fakeNow; });
  plat::TimerManager timers(plat::TimerManager::current() != nullptr);
  appkit::Window* w = window(makeRect(0, 0, 400, 300));
  auto* container = own(new NSViewFlipped(makeRect(0, 0, 400, 300)));
  w->setContentView(container);
  w->orderFront(nullptr);
  auto* bar = new NSViewFlipped(makeRect(0, 0, 200, 40));
  {
    NSViewAutoHider hider(bar, AutoHider::kEdgeTop, 5, nullptr);
    bar->release();  // the auto-hider keeps it
    EXPECT_FALSE(hider.isAttached());
    hider.setContainer(container);
    EXPECT_TRUE(hider.isAttached());
    EXPECT_FALSE(hider.isFlipped());
    EXPECT_EQ(bar->frame().origin, (appkit::Point{100, 0}));  // shown, centred at the top

    appkit::inject::movePointer({150, 280});  // over the bar (flipped y 20)
    EXPECT_TRUE(hider.isShowing());
    EXPECT_EQ(hider.stepInterval(), 0);
    appkit::inject::movePointer({150, 100});  // the container only: hide
    EXPECT_FALSE(hider.isShowing());
    EXPECT_NE(hider.stepInterval(), 0);
    fakeNow += 400 * plat::kTicksPerMs;
    timers.processTimers();
    EXPECT_EQ(bar->frame().origin, (appkit::Point{100, -35}));
    appkit::inject::movePointer({900, 900});  // outside both: nothing
    EXPECT_FALSE(hider.isShowing());
    hider.setContainer(nullptr);
    EXPECT_FALSE(hider.isAttached());
  }
  plat::setMonotonicClock(previous);
}

TEST_F(CocoaUtilTest, ScrollSizesFollowTheViewsBorderAndScrollerStyle) {
  constexpr double kB = appkit::kBezelBorderWidth;
  constexpr double kS = appkit::kScrollerWidth;
  // Content (100, 50) and the frame that holds it.
  struct Case {
    int border;
    int style;
    bool horizontal;
    bool vertical;
    appkit::Size frame;
  };
  const Case cases[] = {
      {appkit::kNoBorder, appkit::kScrollerStyleLegacy, false, false, {100, 50}},
      {appkit::kNoBorder, appkit::kScrollerStyleLegacy, true, false, {100, 50 + kS}},
      {appkit::kNoBorder, appkit::kScrollerStyleLegacy, false, true, {100 + kS, 50}},
      {appkit::kBezelBorder, appkit::kScrollerStyleLegacy, false, false, {100 + 2 * kB, 50 + 2 * kB}},
      {appkit::kBezelBorder, appkit::kScrollerStyleLegacy, true, true, {100 + 2 * kB + kS, 50 + 2 * kB + kS}},
      {appkit::kNoBorder, appkit::kScrollerStyleOverlay, true, true, {100, 50}},
      {appkit::kBezelBorder, appkit::kScrollerStyleOverlay, true, false, {100 + 2 * kB, 50 + 2 * kB}},
  };
  auto* view = own(new appkit::ScrollView(makeRect(0, 0, 1, 1)));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "border " << c.border << " style " << c.style << " h " << c.horizontal << " v "
                                    << c.vertical);
    view->setBorderType(c.border);
    view->setScrollerStyle(c.style);
    const appkit::Size f = scrollFrameSize(view, c.horizontal, c.vertical, {100, 50});
    EXPECT_EQ(f.width, c.frame.width);
    EXPECT_EQ(f.height, c.frame.height);
    // And back: frame -> content -> frame.
    const appkit::Size content = scrollContentSize(view, c.horizontal, c.vertical, f);
    EXPECT_EQ(content.width, 100);
    EXPECT_EQ(content.height, 50);
    const appkit::Size again = scrollFrameSize(view, c.horizontal, c.vertical, content);
    EXPECT_EQ(again.width, f.width);
    EXPECT_EQ(again.height, f.height);
  }
  // A frame smaller than border and scrollers leaves no content, never less.
  view->setBorderType(appkit::kGrooveBorder);
  view->setScrollerStyle(appkit::kScrollerStyleLegacy);
  const appkit::Size none = scrollContentSize(view, true, true, {5, 5});
  EXPECT_EQ(none.width, 0);
  EXPECT_EQ(none.height, 0);
}

TEST_F(CocoaUtilTest, OverlayScrollersLeaveTheContentViewTheWholeInside) {
  auto* view = own(new appkit::ScrollView(makeRect(0, 0, 100, 80)));
  view->setBorderType(appkit::kBezelBorder);
  view->setHasVerticalScroller(true);
  EXPECT_EQ(view->contentView()->frame().size.width, 100 - 2 * appkit::kBezelBorderWidth - appkit::kScrollerWidth);
  view->setScrollerStyle(appkit::kScrollerStyleOverlay);
  EXPECT_EQ(view->contentView()->frame().size.width, 100 - 2 * appkit::kBezelBorderWidth);
}

TEST_F(CocoaUtilTest, ElasticScrollingCanBeTurnedOff) {
  auto* view = own(new appkit::ScrollView(makeRect(0, 0, 1, 1)));
  disableElasticScrolling(view);
  EXPECT_EQ(view->verticalScrollElasticity(), appkit::kScrollElasticityNone);
  EXPECT_EQ(view->horizontalScrollElasticity(), appkit::kScrollElasticityNone);
  disableElasticScrolling(nullptr);
}

}  // namespace
}  // namespace ui
