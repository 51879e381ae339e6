#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Window.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuSuperboxMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"
#include "qocore/uilibs/ui/mac/AppLoop.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace mui {
namespace {

using mui_test::kKeyA;
using mui_test::kKeyDown;
using mui_test::kKeyEscape;
using mui_test::kKeyReturn;
using mui_test::kKeyTab;

using appkit::makeRect;
using mui_test::Changes;
constexpr uint32_t kTabSym = 0xFF09, kReturnSym = 0xFF0D, kEscapeSym = 0xFF1B, kDownSym = 0xFF54;
constexpr int kOtherMouseDown = 25;

// The content of a window of some other part of the program: counts the
// presses and scrolls that reach it.
class CountingView : public appkit::View {
 public:
  using appkit::View::View;
  void mouseDown(appkit::Event*) override { ++presses; }
  void rightMouseDown(appkit::Event*) override { ++presses; }
  void scrollWheel(appkit::Event*) override { ++scrolls; }
  int presses = 0;
  int scrolls = 0;
};

// Writes down the keys it is offered; takes `consume`.
struct Keys : MuSuperbox::KeyCallback {
  bool superboxKey(MuSuperbox*, uint32_t keysym) override {
    offered.push_back(keysym);
    return keysym == consume;
  }
  std::vector<uint32_t> offered;
  uint32_t consume = 0;
};

// The keys that reach the dialog.
struct KeyLog : MuDialog::KeyMonitorCallback {
  void keyPressed(uint32_t key) override { keys.push_back(key & 0x1FFFFFF); }
  std::vector<uint32_t> keys;
};

struct Presses : MuDialog::MouseDownCallback {
  bool mouseDown(MuDialog*) override { return ++count, false; }
  int count = 0;
};

// A shown dialog holding one focused superbox, and another window, on the
// application loop's own application object, whose dispatch asks the event
// filters about every event.  (The loop object itself is left out: its
// descriptor manager lives for the whole process and would stay the
// thread's timer manager for the tests that run after these.)
class MuSuperboxMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    dialog_.reset();
    appkit::Application::reset();
    ASSERT_NE(dynamic_cast<ui::AppLoopAppOC*>(ui::AppLoopAppOC::sharedApplication()), nullptr);
    muSuperboxFactory = MuSuperboxMac::create;
    dialog_.reset(MuDialog::create("dlg", "Title", {300, 200}, 0, nullptr, nullptr));
    box_ = static_cast<MuSuperboxMac*>(MuSuperbox::create(dialog_.get(), "box", nullptr, &keys_, 120));
    box_->setPosition({10, 10});
    box_->setSize({200, 24});
    box_->addObserver(&changes_);
    dialog_->setKeyMonitor(&keyLog_);
    dialog_->setVisible(true);
    box_->setFocus();

    other_ = new appkit::Window(makeRect(600, 100, 200, 200), appkit::kWindowStyleTitled);
    other_->setReleasedWhenClosed(false);
    counter_ = new CountingView(makeRect(0, 0, 200, 200));
    other_->setContentView(counter_);
    counter_->release();
    other_->orderFront(nullptr);
  }
  void TearDown() override {
    if (other_) {
      other_->close();
      other_->release();
    }
    MacPeerTest::TearDown();
  }

  // Dispatches the queued events as the running loop would.
  void serve() { appkit::inject::handleQueued(); }
  void key(unsigned short code, const char* characters) {
    appkit::inject::key(code, characters);
    serve();
  }
  void post(appkit::Event* event) { appkit::Application::shared().postEvent(event, false); }
  appkit::Event* mouseIn(appkit::Window* window, int type) {
    return appkit::Event::mouseEvent(type, {20, 20}, 0, 0, window->windowNumber(), 0, 1, 1);
  }
  appkit::Window* popupWindow() { return fromNativeWindow(box_->popup()->nativeWindow()); }
  bool popupOpen() { return box_->popup()->isVisible(); }

  Keys keys_;
  KeyLog keyLog_;
  Changes changes_;
  MuSuperboxMac* box_ = nullptr;
  appkit::Window* other_ = nullptr;
  CountingView* counter_ = nullptr;
};

TEST_F(MuSuperboxMacTest, TheFieldSitsInTheLabelledControlWithItsInsets) {
  appkit::TextField* f = box_->field();
  EXPECT_TRUE(f->isSelectable());
  EXPECT_TRUE(f->isEditable());
  EXPECT_TRUE(f->textCell()->usesSingleLineMode());
  EXPECT_EQ(f->superview(), box_->labelled());
  EXPECT_EQ(nativeViewOf(box_), box_->labelled());
  const auto* peer = static_cast<MuCommonMac*>(box_->peer());
  EXPECT_EQ(peer->insets().top, -1);
  EXPECT_EQ(peer->insets().bottom, -1);
  EXPECT_EQ(peer->insets().left + peer->insets().right, 0);
  EXPECT_TRUE(box_->hasFocus());

  box_->setText("abc");
  EXPECT_STREQ(box_->getText(), "abc");
  box_->setPlaceholder("Search");
  EXPECT_STREQ(f->textCell()->placeholderString(), "Search");
  // Only the user's typing is a change.
  EXPECT_EQ(changes_.count, 0);
  EXPECT_FALSE(popupOpen());
}

TEST_F(MuSuperboxMacTest, TypingOpensThePopupUnderTheFieldAndSendsOneChangePerKey) {
  key(kKeyA, "a");
  EXPECT_STREQ(box_->getText(), "a");
  EXPECT_EQ(changes_.count, 1);
  ASSERT_TRUE(popupOpen());
  const Rect field = box_->fieldRect();
  EXPECT_EQ(box_->popup()->getSize().width, field.width());
  EXPECT_EQ(box_->popup()->getSize().height, 120);
  EXPECT_EQ(box_->popup()->getPosition().y, box_->absolutePosition().y + field.y2);

  key(kKeyA, "b");
  EXPECT_STREQ(box_->getText(), "ab");
  EXPECT_EQ(changes_.count, 2);
  EXPECT_TRUE(popupOpen());
}

TEST_F(MuSuperboxMacTest, WithThePopupOpenAPressElsewhereClosesItAndGoesNoFurther) {
  Presses dialogPresses;
  dialog_->setMouseDownCallback(&dialogPresses);
  struct Case {
    const char* name;
    std::function<void()> press;
    const int* heard;  // who hears a press of the kind (null: no one here)
  };
  const Case cases[] = {
      {"left click",
       [&] {
         appkit::inject::click(other_, {20, 20});
       },
       &counter_->presses},
      {"right click",
       [&] {
         appkit::inject::rightClick(other_, {20, 20});
       },
       &counter_->presses},
      {"other button", [&] { post(mouseIn(other_, kOtherMouseDown)); }, nullptr},
      // The superbox's own window too: the press only closes the list.
      {"own window",
       [&] {
         appkit::inject::click(box_->field()->window(), {5, 5});
       },
       &dialogPresses.count},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box_->showPopup(true);
    const int before = c.heard ? *c.heard : 0;
    c.press();
    serve();
    EXPECT_FALSE(popupOpen());
    if (c.heard) {
      EXPECT_EQ(*c.heard, before);
    }
    // Closed, the next press arrives.
    c.press();
    serve();
    if (c.heard) {
      EXPECT_EQ(*c.heard, before + 1);
    }
  }
}

TEST_F(MuSuperboxMacTest, AScrollOutsideIsSwallowedAndThePopupStays) {
  box_->showPopup(true);
  post(mouseIn(other_, appkit::kEventScrollWheel));
  serve();
  EXPECT_TRUE(popupOpen());
  EXPECT_EQ(counter_->scrolls, 0);

  box_->showPopup(false);
  post(mouseIn(other_, appkit::kEventScrollWheel));
  serve();
  EXPECT_EQ(counter_->scrolls, 1);
}

TEST_F(MuSuperboxMacTest, PressesInsideThePopupPass) {
  Presses presses;
  box_->popup()->setMouseDownCallback(&presses);
  box_->showPopup(true);
  appkit::inject::click(popupWindow(), {10, 10});
  serve();
  EXPECT_TRUE(popupOpen());
  EXPECT_EQ(presses.count, 1);
}

TEST_F(MuSuperboxMacTest, LeavingTheFrontAnotherApplicationsPressAndTheMenuCloseThePopup) {
  struct Case {
    const char* name;
    std::function<void()> act;
  };
  const Case cases[] = {
      // The platform tells the application that it left the front with an
      // AppKit-defined event.
      {"deactivated",
       [&] {
         post(appkit::Event::otherEvent(appkit::kEventAppKitDefined, {}, 0, 0, 0,
                                        appkit::kSubtypeApplicationDeactivated, 0, 0));
       }},
      {"another application's press",
       [] {
         appkit::inject::foreignMouseDown({1000, 700});
       }},
      {"menu tracking",
       [] {
         auto* menu = new appkit::Menu("Pop-up");
         menu->popUpMenuPositioningItem(nullptr, {0, 0}, nullptr);
         menu->release();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box_->showPopup(true);
    c.act();
    serve();
    EXPECT_FALSE(popupOpen());
  }
}

TEST_F(MuSuperboxMacTest, KeysOfTheFocusedFieldGoThroughTheKeyHandlingFirst) {
  struct Case {
    const char* name;
    unsigned short code;
    const char* characters;
    uint32_t keysym;
    bool open;     // the popup before the key
    bool focused;  // the field before the key
    uint32_t consume;
    bool openAfter;
    bool reachesDialog;
  };
  // clang-format off
  const Case cases[] = {
      {"tab",                     kKeyTab,    "\t",   kTabSym,    true,  true,  0,        false, true},
      {"return",                  kKeyReturn, "\r",   kReturnSym, true,  true,  0,        false, true},
      {"escape closes",           kKeyEscape, "\x1b", kEscapeSym, true,  true,  0,        false, false},
      {"escape without popup",    kKeyEscape, "\x1b", kEscapeSym, false, true,  0,        false, true},
      {"arrow for the callback",  kKeyDown,   "",     kDownSym,   true,  true,  0,        true,  true},
      {"callback takes it",       kKeyDown,   "",     kDownSym,   true,  true,  kDownSym, true,  false},
      {"callback keeps it open",  kKeyEscape, "\x1b", kEscapeSym, true,  true,  kEscapeSym, true, false},
      {"field without the focus", kKeyEscape, "\x1b", kEscapeSym, true,  false, 0,        true,  true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box_->showPopup(c.open);
    if (c.focused)
      box_->setFocus();
    else
      box_->field()->window()->makeFirstResponder(nullptr);
    keys_.offered.clear();
    keys_.consume = c.consume;
    keyLog_.keys.clear();
    key(c.code, c.characters);
    EXPECT_EQ(popupOpen(), c.openAfter);
    EXPECT_EQ(keys_.offered, c.focused ? std::vector<uint32_t>{c.keysym} : std::vector<uint32_t>{});
    EXPECT_EQ(keyLog_.keys, c.reachesDialog ? std::vector<uint32_t>{c.keysym} : std::vector<uint32_t>{});
  }
  // A typed character has no key symbol of its own: it is text.
  keys_.offered.clear();
  box_->setFocus();
  key(kKeyA, "x");
  EXPECT_TRUE(keys_.offered.empty());
}

TEST_F(MuSuperboxMacTest, TheFieldRectCountsDownwardsInFlippedAndUnflippedSuperviews) {
  // In the labelled control (flipped), the field fills the view, which is
  // the element less one unit at the top and the bottom.
  const Size size = box_->getSize();
  const Rect inControl = box_->fieldRect();
  EXPECT_EQ(inControl, Rect(0, 0, size.width, size.height - 2));
  EXPECT_EQ(box_->textRect(), inControl);

  // Not edited while it moves.
  box_->field()->window()->makeFirstResponder(nullptr);

  struct Case {
    bool flipped;
    Rect expected;
  };
  for (const Case& c : {Case{true, Rect(10, 20, 60, 42)}, Case{false, Rect(10, 58, 60, 80)}}) {
    SCOPED_TRACE(c.flipped);
    appkit::View* host =
        c.flipped ? new ui::NSViewFlipped(makeRect(0, 0, 100, 100)) : new appkit::View(makeRect(0, 0, 100, 100));
    host->addSubview(box_->field());
    box_->field()->setFrame(makeRect(10, 20, 50, 22));
    EXPECT_EQ(box_->fieldRect(), c.expected);
    box_->field()->removeFromSuperview();
    host->release();
  }
}

TEST_F(MuSuperboxMacTest, TheLabelSitsBesideTheFieldWhichTakesTheRest) {
  auto* box = static_cast<MuSuperboxMac*>(MuSuperbox::create(dialog_.get(), "find", "Find", nullptr, 80));
  box->setPosition({10, 50});
  box->setSize({200, 24});
  appkit::View* label = box->labelled()->label();
  ASSERT_NE(label, nullptr);
  EXPECT_STREQ(box->labelled()->label()->string()->utf8(), "Find");
  const appkit::Rect l = label->frame(), f = box->field()->frame();
  EXPECT_LE(l.maxX(), f.origin.x);
  EXPECT_GT(f.origin.x, 0);
  EXPECT_EQ(f.maxX(), 200);
  // The popup lines up with the field, not the label.
  box->showPopup(true);
  EXPECT_EQ(box->popup()->getSize().width, ui::truncToInt32(f.size.width));

  // The second value sets the field's width; both are kept.
  box->setLabelWidth(70, 120);
  EXPECT_EQ(box->field()->frame().size.width, 120);
  EXPECT_EQ(box->labelWidthSetting(), 70);
  EXPECT_EQ(box->fieldWidthSetting(), 120);

  const int32_t standard = static_cast<int32_t>(std::ceil(appkit::kTextFieldHeight)) + 2;
  EXPECT_EQ(box->heightForWidth(200), standard);
  // A label wrapped over several lines is taller than the field.
  auto* wordy = static_cast<MuSuperboxMac*>(
      MuSuperbox::create(dialog_.get(), "wordy", "A label far longer than the column it gets", nullptr, 80));
  wordy->setLabelWidth(0, 0);
  EXPECT_GT(wordy->heightForWidth(60), standard);

  // The label greys with the field.
  auto colour = [&] {
    return box->labelled()->labelView()->textStorage()->attributeAt(appkit::kForegroundColorAttributeName, 0);
  };
  box->setEnabled(false);
  EXPECT_FALSE(box->field()->isEnabled());
  EXPECT_EQ(colour(), appkit::Color::disabledControlTextColor());
  box->setEnabled(true);
  EXPECT_TRUE(box->field()->isEnabled());
  EXPECT_EQ(colour(), appkit::Color::controlTextColor());
}

TEST_F(MuSuperboxMacTest, AGoneSuperboxHearsNoMoreEvents) {
  // Destroyed with its popup open: its filter and monitor go with it.
  auto* box = MuSuperbox::create(dialog_.get(), "gone", nullptr, nullptr, 80);
  box->showPopup(true);
  dialog_->removeChild(box);
  // Each of these would reach the freed peer if its filter or its global
  // monitor were left behind.
  appkit::inject::click(other_, {20, 20});
  post(mouseIn(other_, appkit::kEventScrollWheel));
  appkit::inject::foreignMouseDown({1000, 700});
  appkit::inject::key(kKeyEscape, "\x1b");
  serve();
  auto* menu = new appkit::Menu("Pop-up");
  menu->popUpMenuPositioningItem(nullptr, {0, 0}, nullptr);
  menu->release();
  EXPECT_EQ(counter_->presses, 1);
  EXPECT_EQ(counter_->scrolls, 1);
}

}  // namespace
}  // namespace mui
