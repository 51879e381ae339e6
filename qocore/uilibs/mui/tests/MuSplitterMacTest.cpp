#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Injector.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuSplitterMac.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"

namespace mui {
namespace {

// A pane with a native view of its own.
class Pane : public MuElement {
 public:
  Pane(MuContainer* parent, const char* id) : MuElement(parent, id, nullptr) {
    view_ = new appkit::View(appkit::makeRect(0, 0, 1, 1));
    setPeer(std::make_unique<MuCommonMac>(this, view_));
  }
  ~Pane() override { view_->release(); }
  int32_t widthForHeight(int32_t) override { return 50; }
  int32_t heightForWidth(int32_t) override { return 50; }
  appkit::View* view() const noexcept { return view_; }

 private:
  appkit::View* view_;
};

class MuSplitterMacTest : public testing::Test {
 protected:
  void SetUp() override {
    yarl_test::MuTestBackend::install();
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    muDialogFactory = MuDialogMac::create;
    muSplitterFactory = MuSplitterMac::create;
    dialog_.reset(MuDialog::create("dlg", "Title", {400, 300}, 0, nullptr, nullptr));
  }
  void TearDown() override {
    dialog_.reset();
    yarl_test::MuTestBackend::fillHooks();
    appkit::Application::reset();
  }
  MuSplitterMac* splitter(int panes, Pane** out) {
    auto* s = static_cast<MuSplitterMac*>(MuSplitter::create(dialog_.get(), "sp", 0, 0, 0));
    for (int i = 0; i < panes; ++i) {
      out[i] = new Pane(s, ("p" + std::to_string(i)).c_str());
      s->addChild(out[i]);
    }
    s->setSize({300, 100});
    return s;
  }

  objc::AutoreleasePool pool_;
  std::unique_ptr<MuDialog> dialog_;
};

TEST_F(MuSplitterMacTest, EachDividerGetsAResizeCursorExceptWhileDragging) {
  Pane* panes[2];
  MuSplitterMac* s = splitter(2, panes);
  EXPECT_EQ(panes[0]->view()->superview(), s->splitterView());
  ASSERT_EQ(s->dividerRects().size(), 1u);
  const appkit::Rect d = s->dividerRects()[0];
  EXPECT_EQ(d.size.width, s->dividerThickness());
  EXPECT_EQ(d.size.height, 100);
  ASSERT_EQ(s->splitterView()->cursorRects().size(), 1u);
  EXPECT_EQ(s->splitterView()->cursorRects()[0].cursor, appkit::kCursorResizeLeftRight);
  s->beginDrag();
  EXPECT_TRUE(s->splitterView()->cursorRects().empty());
  s->endDrag();
  EXPECT_EQ(s->splitterView()->cursorRects().size(), 1u);
}

TEST_F(MuSplitterMacTest, OnePaneHasNoDividerAndHiddenPanesLeaveTheViewTree) {
  Pane* one[1];
  MuSplitterMac* single = splitter(1, one);
  EXPECT_TRUE(single->dividerRects().empty());
  EXPECT_TRUE(single->splitterView()->cursorRects().empty());

  Pane* panes[2];
  MuSplitterMac* s = splitter(2, panes);
  s->setPaneVisible(false, 1);
  EXPECT_EQ(panes[1]->view()->superview(), nullptr);
  EXPECT_FALSE(panes[1]->isVisible());
  s->setPaneVisible(true, 1);
  EXPECT_EQ(panes[1]->view()->superview(), s->splitterView());
  s->removeChild(panes[0]);
  EXPECT_EQ(s->childCount(), 1);
}

}  // namespace
}  // namespace mui
