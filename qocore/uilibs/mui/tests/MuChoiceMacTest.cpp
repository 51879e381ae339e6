#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

class MuChoiceMacTest : public mui_test::MacPeerTest {
 protected:
  MuChoiceMacTest() : MacPeerTest({300, 200}) {}
  void SetUp() override {
    MacPeerTest::SetUp();
    muChoiceFactory = MuChoiceMac::create;
  }
  MuChoiceMac* choice(const char* label, uint32_t flags) {
    return static_cast<MuChoiceMac*>(MuChoice::create(dialog_.get(), "c", label, flags));
  }
};

TEST_F(MuChoiceMacTest, ItemsAreSelectedByIdAfterRemovals) {
  for (uint32_t flags : {0u, MuChoiceMac::kEditable}) {
    MuChoiceMac* c = choice(nullptr, flags);
    EXPECT_EQ(c->comboBox() != nullptr, flags != 0);
    c->addItem(10, "a");
    c->addItem(20, "b");
    c->addItem(30, "c");
    c->removeItem(10);
    c->removeItem(99);
    EXPECT_EQ(c->itemCount(), 2);
    c->select(30);
    EXPECT_EQ(c->selectedId(), 30);
    EXPECT_STREQ(c->getText(), "c");
    c->select(20);
    EXPECT_EQ(c->getSelected(), 20);
    EXPECT_STREQ(c->listItems().c_str(), "20:b\n30:c\n");
    // Selecting in code is not reported.
    EXPECT_TRUE(elementEvents().empty());
    c->removeAllItems();
    EXPECT_EQ(c->selectedId(), -1);
    dialog_->remove(c);
  }
}

TEST_F(MuChoiceMacTest, AnUnknownIdEmptiesAnEditableChoiceAndUserInputIsReported) {
  MuChoiceMac* c = choice(nullptr, MuChoiceMac::kEditable | MuChoiceMac::kAutoComplete);
  ASSERT_NE(c->comboBox(), nullptr);
  EXPECT_TRUE(c->comboBox()->isEditable());
  EXPECT_TRUE(c->comboBox()->completes());
  c->addItem(1, "one");
  c->select(1);
  c->select(7);
  EXPECT_STREQ(c->getText(), "");
  EXPECT_EQ(c->selectedId(), -1);
  c->comboBox()->typeText("typed");
  c->comboBox()->chooseItem(0);
  EXPECT_EQ(c->selectedId(), 1);
  EXPECT_EQ(elementEvents().size(), 2u);

  MuChoiceMac* fixed = choice(nullptr, 0);
  ASSERT_NE(fixed->popUp(), nullptr);
  fixed->addItem(5, "five");
  fixed->select(7);
  EXPECT_EQ(fixed->selectedId(), -1);
  fixed->popUp()->chooseItem(0);
  EXPECT_EQ(fixed->selectedId(), 5);
  EXPECT_EQ(elementEvents().size(), 3u);
}

TEST_F(MuChoiceMacTest, InsertingPutsTheItemAtTheIndexUnderAnIdNoItemHolds) {
  for (uint32_t flags : {0u, MuChoiceMac::kEditable}) {
    MuChoiceMac* c = choice(nullptr, flags);
    // A negative or too large index appends.
    c->insertItem(-1, "a");
    c->insertItem(-1, "b");
    c->insertItem(7, "c");
    c->select(1);
    c->insertItem(1, "x");
    c->insertItem(0, "y");
    EXPECT_STREQ(c->listItems().c_str(), "4:y\n0:a\n3:x\n1:b\n2:c\n");
    EXPECT_EQ(c->itemCount(), 5);
    // The selection stays on its item.
    EXPECT_EQ(c->selectedId(), 1);
    EXPECT_STREQ(c->getText(), "b");
    c->select(3);
    EXPECT_STREQ(c->getText(), "x");
    dialog_->remove(c);
  }
}

TEST_F(MuChoiceMacTest, AnItemWhoseIdWasTakenListsAsMinusOne) {
  MuChoiceMac* c = choice(nullptr, 0);
  c->addItem(1, "first");
  c->addItem(1, "second");
  EXPECT_STREQ(c->listItems().c_str(), "-1:first\n1:second\n");
  c->popUp()->chooseItem(0);
  EXPECT_EQ(c->selectedId(), -1);
}

TEST_F(MuChoiceMacTest, TheLabelTakesItsColumnAndLinesUpWithTheControl) {
  const int32_t gap = Mui::instance()->metric(Mui::kLabelGap);
  MuChoiceMac* c = choice("Name", 0);
  c->addItem(1, "An item");
  LabelledControl* l = c->labelled();
  ASSERT_NE(l->label(), nullptr);
  EXPECT_EQ(l->insets().left, 0);  // the label takes the left edge
  // "Name" in the fixed text metrics of the system font: 4 x 6.5 points.
  const int32_t labelWidth = 26;
  EXPECT_EQ(c->labelWidth(), labelWidth);
  const int32_t controlWidth =
      int32_t(7 * appkit::kCharacterWidth + appkit::kPopUpArrowWidth + 2 * appkit::kButtonPadding) -
      2;  // the right inset
  EXPECT_EQ(c->widthForHeight(0), controlWidth + labelWidth + gap);

  // Natural columns.
  c->setSize({300, 30});
  EXPECT_EQ(l->control()->frame().origin.x, labelWidth + gap);
  EXPECT_EQ(l->control()->frame().size.width, controlWidth + 2);
  // The label is as high as one line (16.25 rounded up), and its baseline
  // is the pop-up's.
  const appkit::Rect label = l->label()->frame();
  EXPECT_EQ(label.size.height, 17);
  EXPECT_EQ(label.origin.y + appkit::Font::systemFontOfSize(0)->ascender(),
            l->control()->frame().origin.y + l->control()->firstBaselineOffsetFromTop());

  // A fixed label column and a weighted control share the width.
  c->setLabelWidth(100, -1);
  EXPECT_EQ(l->control()->frame().origin.x, 100);
  EXPECT_EQ(l->control()->frame().size.width, 300 - 100 + 2);
  EXPECT_EQ(l->label()->frame().size.width, 100 - gap);

  // A narrow label column wraps the label.
  c->setLabelWidth(gap + 10, 0);
  EXPECT_GT(l->label()->frame().size.height, 17);
}

}  // namespace
}  // namespace mui
