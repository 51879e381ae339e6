#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Window.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuEditMac.h"
#include "qocore/uilibs/mui/mac/MuFrameMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

using mui_test::kKeyA;
using mui_test::kKeyReturn;

using mui_test::Changes;

class MuEditMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muEditFactory = MuEditMac::create;
  }
  // A shown dialog holding one edit of the type, focused.
  MuEditMac* shownEdit(uint32_t type, uint32_t option = 0) {
    dialog_.reset(MuDialog::create("dlg", "Title", {300, 200}, 0, nullptr, nullptr));
    auto* edit = static_cast<MuEditMac*>(MuEdit::create(dialog_.get(), "e", nullptr, type, option));
    edit->setSize({200, 60});
    dialog_->setVisible(true);
    edit->setFocus();
    edit->addObserver(&changes_);
    return edit;
  }
  void type(const char* text, uint64_t flags = 0) {
    appkit::inject::key(kKeyA, text, flags);
    appkit::inject::handleQueued();
  }

  Changes changes_;
};

TEST_F(MuEditMacTest, EachTypeMakesItsFieldAndInsets) {
  struct Case {
    uint32_t type;
    uint32_t option;
    bool secure;
    MuInsets insets;
  };
  for (const Case& c : {Case{MuEdit::kText, 0, false, {0, -1, 0, -1}}, Case{MuEdit::kPassword, 0, true, {0, -1, 0, -1}},
                        Case{MuEdit::kMultiline, 0, false, {0, -1, 0, -1}},
                        Case{MuEdit::kText, MuEdit::kBorderless, false, {0, 0, 0, 0}}}) {
    SCOPED_TRACE(c.type * 10 + c.option);
    std::unique_ptr<MuDialog> d(MuDialog::create("d", "T", {300, 200}, 0, nullptr, nullptr));
    auto* edit = static_cast<MuEditMac*>(MuEdit::create(d.get(), "e", nullptr, c.type, c.option));
    EXPECT_EQ(dynamic_cast<appkit::SecureTextField*>(edit->field()) != nullptr, c.secure);
    EXPECT_EQ(edit->insets().top, c.insets.top);
    EXPECT_EQ(edit->insets().bottom, c.insets.bottom);
    EXPECT_EQ(edit->field()->isBordered(), c.option == 0);
    EXPECT_EQ(edit->field()->textCell()->lineBreakMode(), c.type == MuEdit::kMultiline ? 0 : 4);
    EXPECT_EQ(edit->field()->textCell()->focusRingType(), c.type == MuEdit::kMultiline ? 1 : 0);
    EXPECT_EQ(edit->field()->textCell()->allowsAllInputSources(), c.type == MuEdit::kPassword);
    EXPECT_EQ(nativeViewOf(edit), edit->labelled());
    EXPECT_EQ(edit->field()->superview(), edit->labelled());
  }
}

TEST_F(MuEditMacTest, TypingSendsChangesAndPasswordsReadBackClear) {
  MuEditMac* edit = shownEdit(MuEdit::kPassword);
  type("s");
  type("3");
  EXPECT_STREQ(edit->getText(), "s3");
  EXPECT_EQ(changes_.count, 2);
  edit->setText("x");
  EXPECT_STREQ(edit->getText(), "x");
}

TEST_F(MuEditMacTest, OneLineFieldsDropTabsAndNewlinesMultiLineKeepsThem) {
  for (uint32_t t : {MuEdit::kText, MuEdit::kPassword, MuEdit::kMultiline}) {
    SCOPED_TRACE(t);
    MuEditMac* edit = shownEdit(t);
    type("a\tb\nc");
    EXPECT_STREQ(edit->getText(), t == MuEdit::kMultiline ? "a\tb\nc" : "abc");
  }
}

TEST_F(MuEditMacTest, AFilterRefusesTextWithoutAChange) {
  MuEditMac* edit = shownEdit(MuEdit::kText);
  edit->setNumeric();
  type("1");
  type("x");
  EXPECT_STREQ(edit->getText(), "1");
  EXPECT_EQ(changes_.count, 1);
}

TEST_F(MuEditMacTest, SelectionIsInUtf8BytesOverUtf16Text) {
  MuEditMac* edit = shownEdit(MuEdit::kText);
  // "a", e-acute (2 bytes, 1 unit), a G clef (4 bytes, 2 units), "b".
  type(
      "a\xC3\xA9\xF0\x9D\x84\x9E"
      "b");
  appkit::FieldEditor* editor = dynamic_cast<appkit::FieldEditor*>(edit->field()->window()->firstResponder());
  ASSERT_NE(editor, nullptr);
  struct Case {
    int32_t start, length;
    size_t location, units;
    int32_t readStart, readLength;
  };
  for (const Case& c :
       {Case{1, 6, 1, 3, 1, 6}, Case{3, 4, 2, 2, 3, 4},
        // Inside a character: only whole characters.
        Case{2, 1, 2, 0, 3, 0}, Case{4, 1, 4, 0, 7, 0}, Case{2, 5, 2, 2, 3, 4}, Case{-1, 0, 5, 0, 8, 0}}) {
    SCOPED_TRACE(c.start * 100 + c.length);
    edit->setSelection(c.start, c.length);
    EXPECT_EQ(editor->selectedRange().location, c.location);
    EXPECT_EQ(editor->selectedRange().length, c.units);
    int32_t start = -5, length = -5;
    edit->getSelection(start, length);
    EXPECT_EQ(start, c.readStart);
    EXPECT_EQ(length, c.readLength);
  }
}

TEST_F(MuEditMacTest, WithoutAFieldEditorSelectionIsNothing) {
  std::unique_ptr<MuDialog> d(MuDialog::create("d", "T", {300, 200}, 0, nullptr, nullptr));
  MuEdit* edit = MuEdit::create(d.get(), "e", nullptr, MuEdit::kText, 0);
  edit->setText("hello");
  edit->setSelection(1, 2);
  int32_t start = 9, length = 9;
  edit->getSelection(start, length);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(length, 0);
}

TEST_F(MuEditMacTest, ShiftReturnTypesANewlineOnlyInAMultiLineField) {
  MuEditMac* multi = shownEdit(MuEdit::kMultiline);
  type("a");
  changes_.count = 0;
  appkit::inject::key(kKeyReturn, "\r", appkit::kModifierShift);
  appkit::inject::handleQueued();
  EXPECT_STREQ(multi->getText(), "a\n");
  EXPECT_EQ(changes_.count, 1);
  // Plain Return is the dialog's.
  EXPECT_FALSE(multi->handleDialogKey(kDefaultButton, false));
  EXPECT_FALSE(multi->handleDialogKey(kCancelButton, true));

  MuEditMac* single = shownEdit(MuEdit::kText);
  type("a");
  EXPECT_FALSE(single->handleDialogKey(kDefaultButton, true));
  EXPECT_STREQ(single->getText(), "a");
}

TEST_F(MuEditMacTest, AShiftReturnTheFilterRefusesChangesNothing) {
  struct NoNewline : MuEdit::Filter {
    bool accept(const char* text) override { return !std::strchr(text, '\n'); }
  } noNewline;
  MuEditMac* multi = shownEdit(MuEdit::kMultiline);
  multi->setFilter(&noNewline);
  type("a");
  changes_.count = 0;
  // Still the edit's key: it does not press the default button.
  EXPECT_TRUE(multi->handleDialogKey(kDefaultButton, true));
  EXPECT_STREQ(multi->getText(), "a");
  EXPECT_EQ(changes_.count, 0);
  multi->setFilter(nullptr);
}

TEST_F(MuEditMacTest, HeightCoversTheCellAndTheBorderInsets) {
  std::unique_ptr<MuDialog> d(MuDialog::create("d", "T", {300, 200}, 0, nullptr, nullptr));
  auto* bordered = static_cast<MuEditMac*>(MuEdit::create(d.get(), "b", nullptr, MuEdit::kText, 0));
  auto* borderless = static_cast<MuEditMac*>(MuEdit::create(d.get(), "n", nullptr, MuEdit::kText, MuEdit::kBorderless));
  EXPECT_EQ(bordered->heightForWidth(100), borderless->heightForWidth(100) + 2);
  borderless->setMinHeight(500);
  EXPECT_EQ(borderless->heightForWidth(100), 500);
  EXPECT_GT(bordered->heightForLines(3), bordered->heightForLines(1));
  EXPECT_EQ(bordered->heightForLines(0), bordered->heightForLines(1));
}

TEST_F(MuEditMacTest, TheLabelStandsLeftOfTheFieldAndGreysWhenDisabled) {
  const int32_t gap = Mui::instance()->metric(Mui::kLabelGap);
  // "Name" in the fixed text metrics: 4 x 6.5 points.
  const int32_t name = 26;
  auto* edit = static_cast<MuEditMac*>(MuEdit::create(dialog_.get(), "e", "Name", MuEdit::kText, 0));
  LabelledControl* l = edit->labelled();
  ASSERT_NE(l->label(), nullptr);
  EXPECT_EQ(edit->labelWidth(), name);
  // Before any layout sets the columns the field fills the rest.
  edit->setSize({300, edit->heightForWidth(300)});
  EXPECT_EQ(l->label()->frame().origin.x, 0);
  EXPECT_EQ(l->label()->frame().size.width, name);
  EXPECT_EQ(edit->field()->frame().origin.x, name + gap);
  EXPECT_EQ(edit->field()->frame().size.width, 300 - name - gap);
  edit->setLabelWidth(100, -1);
  EXPECT_EQ(edit->field()->frame().origin.x, 100);
  EXPECT_EQ(l->label()->frame().size.width, 100 - gap);

  auto colour = [&] { return l->labelView()->textStorage()->attributeAt(appkit::kForegroundColorAttributeName, 0); };
  EXPECT_EQ(colour(), appkit::Color::controlTextColor());
  edit->setEnabled(false);
  EXPECT_EQ(colour(), appkit::Color::disabledControlTextColor());
  EXPECT_FALSE(edit->field()->isEnabled());
  edit->setEnabled(true);
  EXPECT_EQ(colour(), appkit::Color::controlTextColor());
  EXPECT_TRUE(edit->field()->isEnabled());

  // Without a label the field fills the edit.
  auto* bare = static_cast<MuEditMac*>(MuEdit::create(dialog_.get(), "b", nullptr, MuEdit::kText, 0));
  EXPECT_EQ(bare->labelled()->label(), nullptr);
  EXPECT_EQ(bare->labelWidth(), 0);
  bare->setSize({300, 22});
  EXPECT_EQ(bare->field()->frame(), appkit::makeRect(0, 0, 300, 20));
}

TEST_F(MuEditMacTest, AWrappedLabelMakesTheEditTaller) {
  const int32_t gap = Mui::instance()->metric(Mui::kLabelGap);
  auto* edit = static_cast<MuEditMac*>(MuEdit::create(dialog_.get(), "e", "A rather long label", MuEdit::kText, 0));
  const int32_t oneLine = edit->heightForWidth(300);
  edit->setLabelWidth(gap + 40, -1);
  // In 40 points the label breaks after each word: four lines of 16.25.
  EXPECT_EQ(edit->heightForWidth(300), 65);
  EXPECT_GT(65, oneLine);
  edit->setSize({300, 65});
  EXPECT_EQ(edit->heightForLines(1), 65);
}

TEST_F(MuEditMacTest, TheFieldDrawsItsBackgroundInTheStylesColour) {
  MuEditMac* edit = shownEdit(MuEdit::kText);
  appkit::TextField* f = edit->field();
  ASSERT_GT(f->bounds().size.width, 10);
  edit->refreshStyle();
  EXPECT_EQ(mui_test::drawnPixel(f, 5, 5), mui_test::pixelOf(ui::getColour("contentBg")));
  auto* editor = dynamic_cast<appkit::FieldEditor*>(f->window()->firstResponder());
  ASSERT_NE(editor, nullptr);
  editor->setDrawsBackground(false);
  edit->setBackgroundColour("#ff0000");
  EXPECT_EQ(mui_test::drawnPixel(f, 5, 5), 0xff0000ffu);
  EXPECT_TRUE(editor->drawsBackground());
  // A name no one knows: the content background.
  edit->setBackgroundColour("no such colour");
  EXPECT_EQ(mui_test::drawnPixel(f, 5, 5), mui_test::pixelOf(ui::getColour("contentBg")));
}

}  // namespace
}  // namespace mui
