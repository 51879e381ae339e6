#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Injector.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuSplitterMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

using Pane = mui_test::ViewLeaf;

class MuSplitterMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muSplitterFactory = MuSplitterMac::create;
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
