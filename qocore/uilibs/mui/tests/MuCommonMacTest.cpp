#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Injector.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/TextMeasurer.h"
#include "testing/LogCapture.h"
#include "testing/ui/MuTestBackend.h"

namespace mui {
namespace {

using appkit::makeRect;

// A container whose children start at an offset, as a frame's content
// area does.
class OffsetContainer : public MuContainerSingle {
 public:
  OffsetContainer() : MuContainerSingle(nullptr, "box") {}
  Point childOrigin() override { return {7, 9}; }
};

class MuCommonMacTest : public testing::Test {
 protected:
  void SetUp() override {
    yarl_test::MuTestBackend::install();
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
  }
  void TearDown() override {
    elements_.clear();
    for (objc::Object* o : owned_) o->release();
    appkit::Application::reset();
  }
  template <class T>
  T* own(T* object) {
    owned_.push_back(object);
    return object;
  }
  // An element whose peer is a MuCommonMac over the view.
  MuElement* element(appkit::View* view, MuCommonMac::Insets insets = {}, const char* id = "e") {
    auto* e = new MuElement(nullptr, id, nullptr);
    e->setPeer(std::make_unique<MuCommonMac>(e, view, insets));
    elements_.emplace_back(e);
    return e;
  }
  appkit::Window* window() {
    auto* w = own(new appkit::Window(makeRect(100, 100, 400, 300), appkit::kWindowStyleTitled));
    w->setReleasedWhenClosed(false);
    auto* content = new ui::NSViewFlipped(makeRect(0, 0, 400, 300));
    w->setContentView(content);
    content->release();
    return w;
  }

  objc::AutoreleasePool pool_;
  std::vector<objc::Object*> owned_;
  std::vector<std::unique_ptr<MuElement>> elements_;
};

TEST_F(MuCommonMacTest, InsetsWidenTheFrameAndAreTakenOffAgain) {
  auto* view = own(new appkit::View(makeRect(0, 0, 1, 1)));
  MuElement* e = element(view, {2, 3, 4, 5});
  e->setSize({100, 20});
  EXPECT_EQ(view->frame().size, (appkit::Size{106, 28}));
  EXPECT_EQ(e->getSize(), (Size{100, 20}));
  // Read back, fractions are cut toward zero.
  view->setFrameSize({106.9, 28.5});
  EXPECT_EQ(e->getSize(), (Size{100, 20}));

  MuCommonMac without(nullptr, nullptr, {2, 3, 4, 5});
  EXPECT_EQ(without.getSize(), (Size{-6, -8}));
}

TEST_F(MuCommonMacTest, APlainElementMeasuresAsABlankOfTheSystemFont) {
  MuElement* e = element(own(new appkit::View(makeRect(0, 0, 1, 1))));
  ui::TextMeasurer text(appkit::kTypesetterLatestBehavior);
  appkit::Font* font = appkit::Font::systemFontOfSize(appkit::Font::systemFontSize());
  // The blank is laid out with the line-fragment padding that the thread's
  // last measuring left (a label's is 0): start from a fresh container's.
  constexpr double kFreshPadding = 5;
  (void)text.measure(appkit::AttributedString::withUtf8("x"), kFreshPadding, 100, 100);
  const double blank = text.sizeOfPlainText(objc::String::withUtf8(" "), font, 100).width;
  ASSERT_GT(blank, 0);
  EXPECT_EQ(e->widthForHeight(100), static_cast<int32_t>(std::ceil(blank)));
  // One line, however narrow the width.
  EXPECT_EQ(e->heightForWidth(200), text.lineHeight(font));
  EXPECT_EQ(e->heightForWidth(1), text.lineHeight(font));
}

TEST_F(MuCommonMacTest, VisibilityEnablementAndToolTipsReachTheView) {
  auto* control = own(new appkit::Control(makeRect(0, 0, 10, 10)));
  auto* plain = own(new appkit::View(makeRect(0, 0, 10, 10)));
  MuElement* c = element(control);
  MuElement* p = element(plain);

  c->setVisible(false);
  EXPECT_TRUE(control->isHidden());
  EXPECT_FALSE(c->isVisible());
  c->setVisible(true);
  EXPECT_TRUE(c->isVisible());

  c->setEnabled(false);
  EXPECT_FALSE(control->isEnabled());
  c->setEnabled(true);
  EXPECT_TRUE(control->isEnabled());
  // A view that is not a control has nothing to disable.
  p->setEnabled(false);
  EXPECT_FALSE(plain->isHidden());

  p->setToolTip("first");
  p->setToolTip("second");
  EXPECT_STREQ(plain->toolTip(), "second");
  p->setToolTip(nullptr);
  EXPECT_STREQ(plain->toolTip(), "");
}

TEST_F(MuCommonMacTest, FocusGoesOnlyToViewsThatAcceptIt) {
  appkit::Window* w = window();
  auto* control = new appkit::Control(makeRect(0, 0, 50, 20));
  auto* plain = new appkit::View(makeRect(0, 30, 50, 20));
  w->contentView()->addSubview(control);
  w->contentView()->addSubview(plain);
  control->release();
  plain->release();
  MuCommonMac c(nullptr, control), p(nullptr, plain);

  p.setFocus();
  EXPECT_FALSE(p.hasFocus());
  c.setFocus();
  EXPECT_TRUE(c.hasFocus());
  EXPECT_EQ(w->firstResponder(), control);
  // A disabled control refuses the focus; the enabled one keeps it.
  auto* other = new appkit::Control(makeRect(0, 60, 50, 20));
  w->contentView()->addSubview(other);
  other->release();
  other->setEnabled(false);
  MuCommonMac o(nullptr, other);
  o.setFocus();
  EXPECT_TRUE(c.hasFocus());
  EXPECT_FALSE(o.hasFocus());
}

TEST_F(MuCommonMacTest, PositionsInFlippedParentsCountFromTheTop) {
  auto* parent = own(new ui::NSViewFlipped(makeRect(0, 0, 300, 200)));
  auto* view = new appkit::View(makeRect(0, 0, 1, 1));
  parent->addSubview(view);
  view->release();
  MuElement* e = element(view, {2, 3, 4, 5});
  yarl_test::LogCapture log;

  e->setPosition({10, 20});
  EXPECT_EQ(view->frame().origin, (appkit::Point{8, 17}));
  EXPECT_EQ(e->getPosition(), (Point{10, 20}));
  EXPECT_TRUE(log.from("MuCommonMac").empty());
}

TEST_F(MuCommonMacTest, AnUnflippedParentIsWarnedAboutAndTheViewStillMoves) {
  auto* parent = own(new appkit::View(makeRect(0, 0, 300, 200)));
  auto* view = new appkit::View(makeRect(0, 0, 50, 40));
  parent->addSubview(view);
  view->release();
  MuElement* e = element(view);
  yarl_test::LogCapture log;

  e->setPosition({10, 20});
  EXPECT_EQ(view->frame().origin, (appkit::Point{10, 20}));
  std::vector<yarl_test::LogRecord> records = log.from("MuCommonMac");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "Warning: [[view superview] isFlipped]");
  // Read back top-down: 200 - (20 + 40).
  EXPECT_EQ(e->getPosition(), (Point{10, 140}));
}

TEST_F(MuCommonMacTest, PositionsIncludeTheParentsChildOrigin) {
  auto* parent = own(new ui::NSViewFlipped(makeRect(0, 0, 300, 200)));
  OffsetContainer box;
  auto* view = new appkit::View(makeRect(0, 0, 1, 1));
  parent->addSubview(view);
  view->release();
  auto* e = new MuElement(&box, "inner", nullptr);
  e->setPeer(std::make_unique<MuCommonMac>(e, view, MuCommonMac::Insets{1, 1, 1, 1}));
  box.addChild(e);
  e->setPosition({10, 20});
  EXPECT_EQ(e->getPosition(), (Point{17, 29}));
}

TEST_F(MuCommonMacTest, ScrollingAndRedrawTakeRectanglesAsCorners) {
  auto* view = own(new appkit::View(makeRect(0, 0, 100, 100)));
  MuElement* e = element(view);
  e->scrollToVisible({10, 20, 30, 60});
  EXPECT_EQ(view->lastScrolledRect(), makeRect(10, 20, 20, 40));
  e->invalidateRect({1, 2, 5, 6});
  EXPECT_TRUE(view->needsDisplay());
  EXPECT_EQ(view->dirtyRect(), makeRect(1, 2, 4, 4));
}

TEST_F(MuCommonMacTest, ViewLookupsSearchTheTreeDepthFirst) {
  auto* root = own(new ui::NSViewFlipped(makeRect(0, 0, 10, 10)));
  auto* a = own(new appkit::View(makeRect(0, 0, 10, 10)));
  auto* b = own(new appkit::View(makeRect(0, 0, 10, 10)));
  auto* stranger = own(new appkit::View(makeRect(0, 0, 10, 10)));
  OffsetContainer box;
  box.setPeer(std::make_unique<MuCommonMac>(&box, root));
  auto* inner = new OffsetContainer;
  inner->setPeer(std::make_unique<MuCommonMac>(inner, a));
  box.addChild(inner);
  auto* leaf = new MuElement(inner, "leaf", nullptr);
  leaf->setPeer(std::make_unique<MuCommonMac>(leaf, b));
  inner->addChild(leaf);

  EXPECT_EQ(MuCommonMac::viewOf(leaf, true), b);
  EXPECT_EQ(nativeViewOf(inner), a);
  EXPECT_EQ(MuCommonMac::findElementForView(&box, root), &box);
  EXPECT_EQ(MuCommonMac::findElementForView(&box, b), leaf);
  EXPECT_EQ(MuCommonMac::findElementForView(&box, stranger), nullptr);

  // An element of another backend has no view.
  MuElement foreign(nullptr, "foreign", nullptr);
  foreign.setPeer(std::make_unique<yarl_test::MuTestPeer>());
  EXPECT_EQ(MuCommonMac::viewOf(&foreign, false), nullptr);
  EXPECT_EQ(nativeViewOf(&foreign), nullptr);
}

}  // namespace
}  // namespace mui
