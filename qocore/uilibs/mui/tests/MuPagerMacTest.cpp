#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuPagerMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

using Page = mui_test::ViewLeaf;

using mui_test::Changes;

class MuPagerMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muPagerFactory = MuPagerMac::create;
  }
  MuPagerMac* pager(uint32_t style, Page** pages, int count) {
    auto* p = static_cast<MuPagerMac*>(MuPager::create(dialog_.get(), "p", style));
    p->addObserver(&changes_);
    for (int i = 0; i < count; ++i) {
      pages[i] = new Page(p, ("page" + std::to_string(i)).c_str());
      p->addChild(pages[i]);
    }
    return p;
  }

  Changes changes_;
};

TEST_F(MuPagerMacTest, ATabbedPagerReportsOnlyTheUsersTabChanges) {
  Page* pages[3];
  MuPagerMac* p = pager(0, pages, 3);
  PagerTabbedOC* tabs = p->tabView();
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(nativeViewOf(p), tabs);
  EXPECT_TRUE(tabs->isFlipped());
  EXPECT_EQ(tabs->numberOfTabViewItems(), 3);
  EXPECT_STREQ(tabs->tabViewItemAtIndex(1)->identifier(), "page1");
  EXPECT_EQ(tabs->tabViewItemAtIndex(2)->view(), pages[2]->view());

  p->setPage(2);
  EXPECT_EQ(tabs->indexOfTabViewItem(tabs->selectedTabViewItem()), 2);
  EXPECT_EQ(changes_.count, 0);
  EXPECT_FALSE(p->suppressSelect());

  tabs->userSelectsTab(1);
  EXPECT_EQ(p->current(), 1);
  EXPECT_EQ(changes_.count, 1);
  EXPECT_TRUE(pages[1]->isVisible());
  EXPECT_FALSE(pages[2]->isVisible());

  p->setPageLabel(pages[0], "First");
  EXPECT_STREQ(tabs->tabViewItemAtIndex(0)->label(), "First");

  p->removeChild(pages[0]);
  EXPECT_EQ(tabs->numberOfTabViewItems(), 2);
  EXPECT_EQ(changes_.count, 1);
}

TEST_F(MuPagerMacTest, AnUntabbedPagerShowsExactlyTheCurrentPage) {
  Page* pages[2];
  MuPagerMac* p = pager(1, pages, 2);
  ASSERT_NE(p->box(), nullptr);
  EXPECT_EQ(p->tabView(), nullptr);
  EXPECT_EQ(p->box()->contentView(), pages[0]->view());
  p->setPage(1);
  EXPECT_EQ(p->box()->contentView(), pages[1]->view());
  EXPECT_EQ(pages[0]->view()->superview(), nullptr);
  EXPECT_EQ(changes_.count, 0);
  p->removeChild(pages[1]);
  EXPECT_EQ(p->childCount(), 1);
}

TEST_F(MuPagerMacTest, AnUntabbedPagerGivesEachPageAllOfItsAreaAndNoBorder) {
  Page* pages[2];
  MuPagerMac* p = pager(1, pages, 2);
  p->setSize({200, 100});
  EXPECT_TRUE(p->box()->isTransparent());
  EXPECT_EQ(p->box()->borderWidth(), 0);
  for (int32_t i : {1, 0}) {
    p->setPage(i);
    EXPECT_EQ(pages[i]->view()->frame(), p->box()->bounds()) << i;
  }
}

TEST_F(MuPagerMacTest, RemovingAnElementThatIsNoPageIsFatal) {
  Page* pages[1];
  MuPagerMac* p = pager(0, pages, 1);
  Page stranger(dialog_.get(), "x");
  EXPECT_DEATH(p->removeChild(&stranger), "isValid\\(i\\)");
}

}  // namespace
}  // namespace mui
