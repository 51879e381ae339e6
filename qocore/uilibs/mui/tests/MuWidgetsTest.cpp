#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/plat/Colors.h"
#include "qocore/uilibs/mui/InfoFrame.h"
#include "qocore/uilibs/mui/MuAnimation.h"
#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuScroll.h"
#include "qocore/uilibs/mui/MuSplitter.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui_test::Placement;
using testing::ElementsAre;
using testing::EndsWith;
using testing::HasSubstr;
using yarl_test::MuTestBackend;
using yarl_test::MuTestPeer;

using MuWidgetsTest = mui_test::MuShownDialogTest;

// ---- Animation, spinner, auto-hider ----

class ThreeFrames : public mui::MuAnimation {
 public:
  explicit ThreeFrames(mui::MuContainer* parent) : MuAnimation(parent, "anim", 50, "f0", {8, 8}) {
    for (const char* name : {"f0", "f1", "f2"}) frames_.emplace_back(name);
  }
};

TEST_F(MuWidgetsTest, AnimationWrapsAndWaitsWhileHiddenOrDisabled) {
  ThreeFrames anim(dialog.get());
  anim.setFrame(2);
  EXPECT_TRUE(anim.timerExpired(&anim.timer()));
  EXPECT_EQ(anim.frame(), 0);
  EXPECT_STREQ(anim.image()->image(), "f0");
  EXPECT_TRUE(anim.timerExpired(&anim.timer()));
  EXPECT_STREQ(anim.image()->image(), "f1");
  anim.image()->setVisible(false);
  EXPECT_TRUE(anim.timerExpired(&anim.timer()));
  anim.image()->setVisible(true);
  anim.image()->setEnabled(false);
  EXPECT_TRUE(anim.timerExpired(&anim.timer()));
  EXPECT_EQ(anim.frame(), 1);

  mui::MuAnimation empty(dialog.get(), "empty", 50, "x", {8, 8});
  EXPECT_FALSE(empty.timerExpired(&empty.timer()));
}

TEST_F(MuWidgetsTest, SpinnerRunsOnlyWhileShown) {
  plat::TimerManager timers;
  mui::MuSpinner spinner(dialog.get(), 1, {16, 16});
  EXPECT_STREQ(spinner.image()->id(), "spinner");
  EXPECT_STREQ(spinner.image()->image(), "spinnerblack00");
  EXPECT_FALSE(spinner.image()->isVisible());
  EXPECT_EQ(spinner.interval(), 100);
  spinner.setVisible(true);
  EXPECT_TRUE(spinner.timer().isRunning());
  spinner.timerExpired(&spinner.timer());
  EXPECT_EQ(spinner.frame(), 1);
  EXPECT_THAT(spinner.image()->image(), testing::StartsWith("spinner"));
  spinner.setVisible(false);
  EXPECT_FALSE(spinner.timer().isRunning());
  EXPECT_EQ(spinner.frame(), 0);

  mui::MuSpinner plain(dialog.get(), 0, {16, 16});
  EXPECT_STREQ(plain.image()->image(), "spinner00");
}

// The appearance as a backend reports it.
class DarkAppearance : public plat::SysColors {
 public:
  bool getColor(const char*, plat::Rgb&) override { return false; }
  bool isDark() override { return true; }
};

TEST_F(MuWidgetsTest, DarkModeSwapsTheSpinnerFrames) {
  plat::TimerManager timers;
  DarkAppearance dark;
  plat::SysColors* previous = plat::replaceSysColorsImplForTest(&dark);
  mui::MuSpinner black(dialog.get(), 1, {16, 16});
  mui::MuSpinner light(dialog.get(), 0, {16, 16});
  plat::replaceSysColorsImplForTest(previous);
  // The first image follows the colour asked for; the frames swap it.
  EXPECT_STREQ(black.image()->image(), "spinnerblack00");
  black.setVisible(true);
  light.setVisible(true);
  black.timerExpired(&black.timer());
  light.timerExpired(&light.timer());
  EXPECT_STREQ(black.image()->image(), "spinner01");
  EXPECT_STREQ(light.image()->image(), "spinnerblack01");
}

class Visibility : public mui::MuAutoHider::Listener {
 public:
  void visibilityChanged(bool shown, bool animated) override {
    seen.push_back(std::string(shown ? "shown" : "hidden") + (animated ? " animated" : ""));
  }
  std::vector<std::string> seen;
};

TEST_F(MuWidgetsTest, AutoHiderPassesEventsToItsListener) {
  Visibility listener;
  std::unique_ptr<mui::MuAutoHider> hider(mui::MuAutoHider::create("hider", {100, 40}, 0, &listener));
  hider->autoHiderEvent(true, true, nullptr);
  hider->autoHiderEvent(false, false, nullptr);
  EXPECT_THAT(listener.seen, ElementsAre("shown animated", "hidden"));
  hider->setBackgroundColour("contentBg");
  EXPECT_STREQ(hider->element()->getFont().background.get(), "contentBg");
  hider->setListener(nullptr);
  hider->autoHiderEvent(true, true, nullptr);
  EXPECT_EQ(listener.seen.size(), 2u);
}

// ---- Information frame and inspector ----

class Opened : public plat::Markup::LinkCallback {
 public:
  void openLink(const char* link) override { links.push_back(link); }
  std::vector<std::string> links;
};

TEST_F(MuWidgetsTest, InfoFrameIconsTextAndLinks) {
  Opened opened;
  auto* column = mui::MuLayout::create(dialog.get(), "col", mui::MuLayout::kVertical);
  {
    mui::InfoFrame info(column, "info", &opened, mui::MuFrame::kBordered);
    mui::MuFrame* frame = info.frame();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_STREQ(frame->getFont().background.get(), "helpBg");

    struct Case {
      int32_t kind;
      const char* icon;
    };
    const Case cases[] = {{1, "infoframe_success"}, {2, "infoframe_warning"}, {3, "infoframe_error"},
                          {4, "infoframe_locked"},  {5, "infoframe_default"}, {6, "infoframe_preference"},
                          {7, "infoframe_notify"},  {0, "infoframe_notify"}};
    auto* icon = static_cast<mui::MuImage*>(dialog->findElement("col.info.split.icon"));
    for (const Case& c : cases) {
      info.setInfo(c.kind, "Done", nullptr);
      EXPECT_STREQ(icon->image(), c.icon) << c.kind;
    }
    EXPECT_TRUE(frame->isVisible());
    auto* text = static_cast<mui::MuText*>(dialog->findElement("col.info.split.textLayout.text"));
    EXPECT_THAT(text->text(), HasSubstr("helpText"));
    EXPECT_THAT(text->text(), EndsWith("\">Done</div>"));

    info.setInfo(3, "Failed: <b>x</b>", "Details");
    info.setInfo(3, "Failed again", "More");
    auto* layout = static_cast<mui::MuContainer*>(dialog->findElement("col.info.split.textLayout"));
    ASSERT_EQ(layout->childCount(), 3);
    auto* link = static_cast<mui::MuText*>(layout->childAt(2));
    EXPECT_STREQ(link->id(), "link");
    EXPECT_TRUE(link->performAction("click", "0"));
    EXPECT_THAT(opened.links, ElementsAre("app://infoframe//info"));
    EXPECT_THAT(link->text(), HasSubstr(">More</a>"));

    info.setInfo(1, nullptr, nullptr);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(layout->childCount(), 1);
    info.setShown(true);
    EXPECT_TRUE(frame->isVisible());
  }
  EXPECT_EQ(column->childCount(), 0);
}

TEST_F(MuWidgetsTest, InspectorIsSingleAndClearsItsTexts) {
  plat::TimerManager timers;
  auto inspector = std::make_unique<mui::MuiInspector>();
  mui::MuDialog* d = inspector->dialog();
  EXPECT_TRUE(d->isVisible());
  auto* id = static_cast<mui::MuStatic*>(d->findElement("main.muiid"));
  EXPECT_STREQ(id->label(), "<muiid goes here>");
  EXPECT_TRUE(inspector->timerExpired(nullptr));
  EXPECT_STREQ(id->label(), "");
  EXPECT_DEATH(mui::MuiInspector second, "!inspector");
  inspector.reset();
  mui::MuiInspector again;
}

// ---- Scroll ----

TEST_F(MuWidgetsTest, ScrollMeasures) {
  struct Case {
    uint32_t style;
    int32_t widthFor100, heightFor100;
  };
  // The child is a text of 6000 square units; chrome: bars 10, border 2.
  const Case cases[] = {
      {0, 60, 60},
      // The width ignores the height: 6000 / 0x3FFFFFFF is 0, plus the bar.
      {mui::MuScroll::kVertical, 10, 66},
      {mui::MuScroll::kHorizontal, 66, 10},
      {mui::MuScroll::kBordered, 66, 66},  // 6000 / 96 = 62 plus 4
  };
  for (const Case& c : cases) {
    auto* scroll = mui::MuScroll::create(dialog.get(), "s", c.style);
    mui::MuElement* child = MuTestBackend::element(scroll, "c");
    MuTestPeer* peer = MuTestBackend::peerOf(child);
    peer->widthFor = [](int32_t h) { return 6000 / std::max(h, 1); };
    peer->heightFor = [](int32_t w) { return 6000 / std::max(w, 1); };
    EXPECT_EQ(scroll->widthForHeight(100), c.widthFor100) << c.style;
    EXPECT_EQ(scroll->heightForWidth(100), c.heightFor100) << c.style;
    scroll->setMaxSize({30, 40});
    EXPECT_EQ(scroll->widthForHeight(100), std::min(c.widthFor100, 30)) << c.style;
    EXPECT_EQ(scroll->heightForWidth(100), std::min(c.heightFor100, 40)) << c.style;
    EXPECT_THAT(scroll->describe().c_str(), EndsWith("element Scroll\nstyle " + std::to_string(c.style) + "\n"));
    dialog->remove(scroll);
  }
}

TEST_F(MuWidgetsTest, ScrollbarDecision) {
  auto* scroll = mui::MuScroll::create(dialog.get(), "s", mui::MuScroll::kVertical | mui::MuScroll::kHorizontal);
  mui::MuElement* child = MuTestBackend::element(scroll, "c");
  MuTestPeer* peer = MuTestBackend::peerOf(child);
  struct Case {
    mui::Size natural, available, child;
    bool horizontal, vertical;
  };
  const Case cases[] = {
      {{50, 50}, {100, 100}, {100, 100}, false, false},
      {{50, 150}, {100, 100}, {90, 150}, false, true},
      {{150, 50}, {100, 100}, {150, 90}, true, false},
      // The horizontal bar takes the room that made the height fit.
      {{150, 95}, {100, 100}, {150, 95}, true, true},
  };
  for (const Case& c : cases) {
    peer->natural = c.natural;
    mui::Size childSize;
    bool horizontal = false, vertical = false;
    scroll->computeScrollbars(c.available, childSize, horizontal, vertical);
    EXPECT_EQ(childSize, c.child) << c.natural.width << "x" << c.natural.height;
    EXPECT_EQ(horizontal, c.horizontal) << c.natural.width << "x" << c.natural.height;
    EXPECT_EQ(vertical, c.vertical) << c.natural.width << "x" << c.natural.height;
  }
}

// ---- Splitter ----

class MuSplitterTest : public MuWidgetsTest {
 protected:
  yarl_test::MuTestSplitter* make(uint32_t thin, std::vector<std::pair<int32_t, int32_t>> panes, int32_t width) {
    auto* s = static_cast<yarl_test::MuTestSplitter*>(mui::MuSplitter::create(dialog.get(), "split", 0, thin, 0));
    for (size_t i = 0; i < panes.size(); ++i) {
      MuTestBackend::element(s, ("p" + std::to_string(i)).c_str());
      s->setPaneLimits(static_cast<int32_t>(i), panes[i].first, panes[i].second);
    }
    s->setSize({width, 50});
    return s;
  }
  static std::vector<Placement> placements(mui::MuSplitter* s) {
    std::vector<Placement> out;
    for (int32_t i = 0; i < s->childCount(); ++i) out.push_back(mui_test::placement(s->childAt(i)));
    return out;
  }
};

TEST_F(MuSplitterTest, PanesAreCutToLeaveTheMinimumsAfterThem) {
  auto* s = make(0, {{50, 150}, {50, 50}, {50, 50}}, 200);
  EXPECT_THAT(placements(s), ElementsAre(Placement{0, 0, 90, 50}, Placement{95, 0, 50, 50}, Placement{150, 0, 50, 50}));
  EXPECT_THAT(s->paneSizes(), ElementsAre(90, 50, 50));
  EXPECT_THAT(s->dividerPositions(), ElementsAre(90, 145));
  EXPECT_EQ(s->getDividerPosition(0), 90);
  EXPECT_EQ(s->widthForHeight(-1), 160);

  auto* narrow = make(0, {{50, 150}, {50, 50}, {50, 50}}, 100);
  EXPECT_THAT(narrow->paneSizes(), ElementsAre(150, 50, 50));
}

TEST_F(MuSplitterTest, DividerThickness) {
  auto* thin = make(1, {{10, 20}, {10, 20}, {10, 20}}, 200);
  auto* thick = make(0, {{10, 20}, {10, 20}, {10, 20}}, 200);
  EXPECT_EQ(thin->dividerThicknessAt(0), 3);
  EXPECT_EQ(thick->dividerThicknessAt(0), 5);
  thick->setPaneVisible(false, 1);
  EXPECT_EQ(thick->dividerThicknessAt(1), 0);
  EXPECT_EQ(thick->previousVisibleChild(2), 0);
  EXPECT_EQ(thick->previousVisibleChild(0), -1);
  EXPECT_EQ(thick->spaceAfter(0), 15);
  EXPECT_THAT(thick->paneSizes(), ElementsAre(20, 0, 20));
  EXPECT_EQ(thick->childAt(-1), thick->childAt(2));
  EXPECT_THAT(thick->describe().c_str(), EndsWith("element Splitter\n\n"));
}

TEST_F(MuSplitterTest, DraggingADivider) {
  auto* s = make(0, {{30, 60}, {30, 60}}, 200);
  // Pane 0 ends at 60, pane 1 starts at 65.
  EXPECT_FALSE(s->fireMouse(mui::MuSplitter::kMouseMoved, {20, 5}, nullptr));
  EXPECT_TRUE(s->fireMouse(mui::MuSplitter::kMouseMoved, {62, 5}, nullptr));
  EXPECT_TRUE(s->fireMouse(mui::MuSplitter::kMousePressed, {62, 5}, nullptr));
  EXPECT_TRUE(s->dragging());
  // The same size: not handled.
  EXPECT_FALSE(s->fireMouse(mui::MuSplitter::kMouseMoved, {62, 5}, nullptr));
  log.clear();
  EXPECT_TRUE(s->fireMouse(mui::MuSplitter::kMouseMoved, {82, 5}, nullptr));
  EXPECT_EQ(s->paneSizes()[0], 80);
  EXPECT_THAT(log, testing::Contains("r:split:0"));
  // Below the minimum: the minimum.
  EXPECT_TRUE(s->fireMouse(mui::MuSplitter::kMouseMoved, {2, 5}, nullptr));
  EXPECT_EQ(s->paneSizes()[0], 30);
  EXPECT_FALSE(MuTestBackend::peerOf(s)->invalidated.empty());
  EXPECT_TRUE(s->fireMouse(mui::MuSplitter::kMouseReleased, {2, 5}, nullptr));
  EXPECT_FALSE(s->dragging());
  EXPECT_FALSE(s->fireMouse(mui::MuSplitter::kMouseReleased, {2, 5}, nullptr));
  EXPECT_FALSE(s->fireMouse(3, {62, 5}, nullptr));
  EXPECT_THAT(s->calls, ElementsAre("hover 62", "begin", "end"));
}

// ---- Slider, static, superbox, popup menu ----

TEST_F(MuWidgetsTest, SliderClick) {
  auto* slider = mui::MuSlider::create(dialog.get(), "sl", 0);
  EXPECT_TRUE(slider->performAction("click", "42"));
  EXPECT_FALSE(slider->performAction("click", nullptr));
  EXPECT_THAT(slider->describe().c_str(), EndsWith("element Slider\nvalue 42\nmin 0\nmax 100\n"));
  slider->setEnabled(false);
  EXPECT_FALSE(slider->performAction("click", "1"));
  slider->setEnabled(true);
  slider->setVisible(false);
  EXPECT_FALSE(slider->performAction("click", "1"));
  EXPECT_THAT(log, ElementsAre("r:sl:0"));
}

TEST_F(MuWidgetsTest, StaticBoldExceptHeadings) {
  auto* heading = mui::MuStatic::create(dialog.get(), "h", "Title", mui::MuStatic::kHeading);
  auto* detail = mui::MuStatic::create(dialog.get(), "d", "Detail", mui::MuStatic::kDetail);
  heading->setText("New title", true, 1);
  detail->setText("New detail", true, 0);
  EXPECT_STREQ(heading->label(), "New title");
  EXPECT_EQ(heading->extra(), 1u);
  EXPECT_THAT(heading->describe().c_str(), EndsWith("element Static\ntype Heading\nbold 0\n"));
  EXPECT_THAT(detail->describe().c_str(), EndsWith("element Static\ntype Detail\nbold 1\n"));
}

class Keys : public mui::MuSuperbox::KeyCallback {
 public:
  bool superboxKey(mui::MuSuperbox*, uint32_t keysym) override { return keysym == consumed; }
  uint32_t consumed = 0;
};

TEST_F(MuWidgetsTest, SuperboxPopupAndKeys) {
  Keys keys;
  auto* panel = mui::MuLayout::create(dialog.get(), "panel.x", mui::MuLayout::kVertical);
  auto* box = mui::MuSuperbox::create(panel, "box", "Find", &keys, 120);
  mui::MuDialog* popup = box->popup();
  EXPECT_STREQ(popup->id(), "dlg_panel_x_box_popup");
  EXPECT_THAT(box->describe().c_str(), EndsWith("popup-dialogid dlg_panel_x_box_popup\n"));
  panel->setPosition({10, 20});
  box->setPosition({5, 6});
  box->setSize({80, 24});
  box->showPopup(true);
  EXPECT_TRUE(popup->isVisible());
  EXPECT_EQ(mui_test::placement(popup), (Placement{15, 50, 80, 120}));

  keys.consumed = 0xFF1B;
  EXPECT_TRUE(box->handleKey(0xFF1B));
  EXPECT_TRUE(popup->isVisible());
  keys.consumed = 0;
  EXPECT_FALSE(box->handleKey('a'));
  EXPECT_TRUE(box->handleKey(0xFF1B));
  EXPECT_FALSE(popup->isVisible());
  EXPECT_FALSE(box->handleKey(0xFF1B));
  box->showPopup(true);
  EXPECT_FALSE(box->handleKey(0xFF0D));
  EXPECT_FALSE(popup->isVisible());

  EXPECT_TRUE(box->performAction("settext", "abc"));
  EXPECT_TRUE(box->performAction("pressenter", nullptr));
  EXPECT_THAT(box->describe().c_str(), HasSubstr("element Superbox\nvalue abc\n"));
  box->setEnabled(false);
  EXPECT_FALSE(box->performAction("settext", "x"));
  EXPECT_FALSE(box->performAction("pressenter", nullptr));
}

TEST_F(MuWidgetsTest, PopupMenuBelowAnElement) {
  auto* target = MuTestBackend::element(dialog.get(), "t", {});
  target->setPosition({100, 40});
  target->setSize({81, 20});
  std::unique_ptr<mui::MuPopupMenu> menu(mui::MuPopupMenu::create("menu", nullptr));
  auto* shown = static_cast<yarl_test::MuTestPopupMenu*>(menu.get());
  for (int32_t alignment : {0, 1, 2}) menu->showBelow(target, alignment);
  // (81 - 50) x 1 / 2 truncates to 15.
  EXPECT_THAT(shown->shownAt, ElementsAre(mui::Point{100, 60}, mui::Point{115, 60}, mui::Point{131, 60}));
  mui::MuPopupMenu::showForElement(menu.get(), target, 1, 200);
  // (81 - 200) / 2 truncates toward zero: -59.
  EXPECT_EQ(shown->shownAt.back(), (mui::Point{41, 60}));
}

}  // namespace
