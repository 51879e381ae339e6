#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Injector.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/MuAutoHiderMac.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

using mui_test::kKeyReturn;

plat::TimeValue fakeNow = 1'000'000'000;
plat::TimeValue fakeClock(plat::TimeValue, bool*) { return fakeNow; }

class Visibility : public MuAutoHider::Listener {
 public:
  void visibilityChanged(bool shown, bool animated) override {
    seen.push_back(std::string(shown ? "shown" : "hidden") + (animated ? " animated" : ""));
  }
  std::vector<std::string> seen;
};

// A 120 x 40 auto-hider sliding over the top edge of the fixture's
// 400 x 300 dialog, 8 points of it staying inside when hidden; timers run
// on a clock the test moves.
class MuAutoHiderMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    previousClock_ = plat::setMonotonicClock(fakeClock);
    muAutoHiderFactory = MuAutoHiderMac::create;
    muButtonFactory = MuButtonMac::create;
    hider_.reset(static_cast<MuAutoHiderMac*>(
        MuAutoHider::create("tools", {120, 40}, MuAutoHiderMac::placement(ui::AutoHider::kEdgeTop, 8), &listener_)));
  }
  void TearDown() override {
    hider_.reset();
    plat::setMonotonicClock(previousClock_);
    MacPeerTest::TearDown();
  }
  // Moves the clock on and fires what is due.
  void advance(int ms) {
    fakeNow += ms * plat::kTicksPerMs;
    timers_.processTimers();
  }
  appkit::View* floating() const { return hider_->viewHider()->view(); }
  appkit::Window* window() const { return static_cast<MuDialogMac*>(dialog_.get())->window(); }
  double top() const { return floating()->frame().origin.y; }

  plat::MonotonicClockFn previousClock_ = nullptr;
  plat::TimerManager timers_{plat::TimerManager::current() != nullptr};
  Visibility listener_;
  std::unique_ptr<MuAutoHiderMac> hider_;
};

TEST_F(MuAutoHiderMacTest, TheHookMakesAShownRegisteredContentDialogOfTheSize) {
  ASSERT_NE(dynamic_cast<MuAutoHiderMac*>(hider_.get()), nullptr);
  MuDialogMac* content = hider_->content();
  EXPECT_EQ(hider_->element(), content);
  EXPECT_STREQ(content->id(), "tools");
  EXPECT_EQ(content->dialogFlags(), MuDialog::kDisableClose);
  EXPECT_EQ(floating(), content->contentView());
  EXPECT_EQ(hider_->hider(), hider_->viewHider());
  EXPECT_EQ(hider_->viewHider()->edge(), ui::AutoHider::kEdgeTop);
  EXPECT_EQ(hider_->viewHider()->travel(), 40 - 8);

  const auto& registry = Mui::instance()->registry();
  EXPECT_NE(std::find_if(registry.begin(), registry.end(), [&](const auto& e) { return e.second == content; }),
            registry.end());
  EXPECT_STREQ(content->getFont().background.get(), "contentBg");
  EXPECT_EQ(floating()->frame().size, (appkit::Size{120, 40}));
  EXPECT_FALSE(floating()->isHidden());
  // The dialog's own window never shows.
  EXPECT_FALSE(content->window()->isVisible());
  EXPECT_FALSE(hider_->viewHider()->isAttached());
}

TEST_F(MuAutoHiderMacTest, AttachedToAWindowItSlidesOverTheTopEdge) {
  hider_->attach(dialog_->nativeWindow());
  ASSERT_TRUE(hider_->viewHider()->isAttached());
  EXPECT_EQ(floating()->superview(), window()->contentView());
  EXPECT_EQ(floating()->window(), window());
  // It left the content dialog's own window.
  EXPECT_EQ(hider_->content()->window()->contentView(), nullptr);
  // Centred across the top; the dialog's content is flipped, so the top
  // is y = 0.
  EXPECT_EQ(floating()->frame().origin, (appkit::Point{140, 0}));

  // At once: placed and reported at once, started then ended.
  hider_->hider()->start(false, 0);
  EXPECT_EQ(top(), -32);
  EXPECT_EQ(listener_.seen, (std::vector<std::string>{"hidden animated", "hidden"}));

  // Over the default 300 ms, in steps of at least 20 ms.
  listener_.seen.clear();
  hider_->hider()->start(true, -1);
  EXPECT_EQ(hider_->viewHider()->stepInterval(), 20);
  advance(150);
  EXPECT_EQ(top(), -16);
  EXPECT_EQ(listener_.seen, (std::vector<std::string>{"shown animated"}));
  advance(150);
  EXPECT_EQ(top(), 0);
  EXPECT_EQ(listener_.seen, (std::vector<std::string>{"shown animated", "shown"}));
  EXPECT_EQ(hider_->viewHider()->stepInterval(), 0);

  // Shown at once, then hidden after the delay.
  listener_.seen.clear();
  hider_->hider()->start(false, 0);
  hider_->hider()->showThenHide(500);
  EXPECT_EQ(top(), 0);
  advance(499);
  EXPECT_EQ(top(), 0);
  advance(1);
  advance(300);
  EXPECT_EQ(top(), -32);
  EXPECT_EQ(listener_.seen, (std::vector<std::string>{"hidden animated", "hidden", "shown animated", "shown",
                                                      "hidden animated", "hidden"}));
}

TEST_F(MuAutoHiderMacTest, DetachingWithNilTakesTheContentOutOfTheWindow) {
  hider_->attach(dialog_->nativeWindow());
  hider_->attach(nullptr);
  EXPECT_FALSE(hider_->viewHider()->isAttached());
  EXPECT_EQ(floating()->window(), nullptr);
  EXPECT_TRUE(window()->contentView()->subviews().empty());
  // Attaching again puts it back in place.
  hider_->attach(dialog_->nativeWindow());
  EXPECT_EQ(floating()->superview(), window()->contentView());
  EXPECT_EQ(floating()->frame().origin, (appkit::Point{140, 0}));
}

// No window paints under the floating content, so it paints its
// background itself, following the appearance and the content's style;
// the content view of the window it floats in still leaves its background
// to its window.
TEST_F(MuAutoHiderMacTest, TheFloatingContentPaintsItsBackgroundInEitherAppearance) {
  plat::ScopeExit light([] { appkit::inject::appearance(false); });
  hider_->attach(dialog_->nativeWindow());
  const appkit::Size size = floating()->frame().size;
  const int right = static_cast<int>(size.width) - 1, bottom = static_cast<int>(size.height) - 1;
  uint32_t seen[2] = {};
  for (bool dark : {false, true}) {
    SCOPED_TRACE(dark ? "dark" : "light");
    appkit::inject::appearance(dark);
    const uint32_t contentBg = mui_test::pixelOf(ui::getColour("contentBg"));
    const mui_test::Drawn drawn = mui_test::drawView(floating(), 1, floating()->bounds());
    EXPECT_EQ(drawn.at(0, 0), contentBg);
    EXPECT_EQ(drawn.at(right, bottom), contentBg);
    EXPECT_EQ(mui_test::drawnPixel(window()->contentView(), 0, 0), 0u);
    seen[dark] = contentBg;
  }
  EXPECT_NE(seen[0], seen[1]);

  hider_->setBackgroundColour("#336699");
  EXPECT_EQ(mui_test::drawnPixel(floating(), right, bottom), 0xff996633u);
}

TEST_F(MuAutoHiderMacTest, TheContentsDefaultButtonIsTheDefaultOfTheWindowItFloatsIn) {
  auto* ok = static_cast<MuButtonMac*>(MuButton::create(hider_->content(), "ok", "OK", MuButton::kNormal, 0, 0));
  hider_->content()->setButton(kDefaultButton, ok);
  std::vector<std::string> log;
  mui_test::Recorder okClicks{log, "ok"};
  ok->addObserver(&okClicks);
  hider_->attach(dialog_->nativeWindow());
  EXPECT_EQ(window()->defaultButton(), ok->button());

  dialog_->setVisible(true);
  appkit::inject::key(kKeyReturn, "\r");
  appkit::inject::handleQueued();
  EXPECT_EQ(log, (std::vector<std::string>{"ok:ok:" + std::to_string(kEventClicked)}));

  // Left behind, the window no longer presses the button; nor after the
  // auto-hider is gone.
  hider_->attach(nullptr);
  EXPECT_EQ(window()->defaultButton(), nullptr);
  hider_->attach(dialog_->nativeWindow());
  EXPECT_EQ(window()->defaultButton(), ok->button());
  hider_.reset();
  EXPECT_EQ(window()->defaultButton(), nullptr);
  appkit::inject::key(kKeyReturn, "\r");
  appkit::inject::handleQueued();
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(MuAutoHiderMacTest, ADefaultButtonRemovedFromTheContentLeavesTheWindowItFloatsIn) {
  auto* ok = static_cast<MuButtonMac*>(MuButton::create(hider_->content(), "ok", "OK", MuButton::kNormal, 0, 0));
  hider_->content()->setButton(kDefaultButton, ok);
  hider_->attach(dialog_->nativeWindow());
  ASSERT_EQ(window()->defaultButton(), ok->button());
  hider_->content()->remove(ok);
  EXPECT_EQ(window()->defaultButton(), nullptr);
  dialog_->setVisible(true);
  appkit::inject::key(kKeyReturn, "\r");
  appkit::inject::handleQueued();
}

}  // namespace
}  // namespace mui
