#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qocore/base/loc/Localize.h"
#include "qocore/uilibs/mui/MuButtonBar.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using mui_test::idOf;
using testing::ElementsAre;
using testing::HasSubstr;
using yarl_test::MuTestBackend;

class MuControlsTest : public mui_test::MuShownDialogTest {
 protected:
  std::vector<std::string> childIds(mui::MuContainer* c) {
    std::vector<std::string> ids;
    for (int32_t i = 0; i < c->childCount(); ++i) ids.push_back(idOf(c->childAt(i)));
    return ids;
  }
};

TEST_F(MuControlsTest, ActionsAreRefusedWhileDisabledOrHidden) {
  auto* button = mui::MuButton::create(dialog.get(), "b", "Go", mui::MuButton::kNormal, 0, 0);
  auto* check = mui::MuCheck::create(dialog.get(), "c", "Check", mui::MuCheck::kNormal, nullptr, nullptr);
  EXPECT_TRUE(button->performAction("click", nullptr));
  EXPECT_FALSE(button->performAction("press", nullptr));
  button->setEnabled(false);
  EXPECT_FALSE(button->performAction("click", nullptr));
  EXPECT_TRUE(check->performAction("click", "1"));
  EXPECT_TRUE(static_cast<yarl_test::MuTestCheck*>(check)->value);
  EXPECT_FALSE(check->performAction("click", nullptr));
  check->setVisible(false);
  EXPECT_FALSE(check->performAction("click", "0"));
  EXPECT_THAT(log, ElementsAre("r:b:1", "r:c:0"));
  EXPECT_THAT(button->describe().c_str(), HasSubstr("element Button\ntype Normal\n"));
  EXPECT_THAT(check->describe().c_str(), HasSubstr("element Check\ntype Normal\nvalue 1\nindeterminate 0\n"));
}

// The refusal is the automation's; click() is the event itself, which the
// peer's action sends for the user's click.
TEST_F(MuControlsTest, ClickSendsTheEventThatRefusedActionsDoNot) {
  auto* button = mui::MuButton::create(dialog.get(), "b", "Go", mui::MuButton::kNormal, 0, 0);
  auto* check = mui::MuCheck::create(dialog.get(), "c", "Check", mui::MuCheck::kNormal, nullptr, nullptr);
  auto* choice = mui::MuChoice::create(dialog.get(), "h", "Choice", 0);
  auto* list = mui::MuList::create(dialog.get(), "l", 0, nullptr);
  button->setEnabled(false);
  check->setLocked(true);
  choice->setEnabled(false);
  list->setLocked(true);
  EXPECT_FALSE(button->performAction("click", nullptr));
  EXPECT_FALSE(check->performAction("click", "1"));
  EXPECT_FALSE(choice->performAction("click", nullptr));
  EXPECT_FALSE(list->performAction("select", "0"));
  EXPECT_TRUE(log.empty());
  button->click();
  check->click();
  choice->click();
  list->click();
  EXPECT_THAT(log, ElementsAre("r:b:1", "r:c:0", "r:h:1", "r:l:1"));
}

TEST_F(MuControlsTest, ButtonKeepsImageAndRedrawsForInsets) {
  auto* button = mui::MuButton::create(dialog.get(), "b", "Go", mui::MuButton::kCustom, 0, 0);
  button->setSize({40, 20});
  button->setImage("blue", {10, 10}, 1);
  EXPECT_EQ(button->image(), nullptr);
  button->setImage("blue", {10, 10}, 0);
  EXPECT_THAT(button->describe().c_str(), HasSubstr("type Custom\nimage blue\n"));
  button->setImageInsets({30, 10}, {5, 6});
  EXPECT_EQ(button->imageInsets(0), (mui::Size{30, 10}));
  EXPECT_EQ(button->imageInsets(1), (mui::Size{5, 6}));
  EXPECT_THAT(MuTestBackend::peerOf(button)->invalidated, ElementsAre(mui::Rect(0, 0, 40, 20)));
}

TEST_F(MuControlsTest, RadioGroupChecksOneAndGoesWithItsLastMember) {
  auto* a = mui::MuCheck::create(dialog.get(), "a", "A", mui::MuCheck::kRadio, nullptr, nullptr);
  auto* b = mui::MuCheck::create(dialog.get(), "b", "B", mui::MuCheck::kRadio, a, nullptr);
  auto* c = mui::MuCheck::create(dialog.get(), "c", "C", mui::MuCheck::kRadio, b, nullptr);
  auto* lone = mui::MuCheck::create(dialog.get(), "d", "D", mui::MuCheck::kNormal, nullptr, nullptr);
  ASSERT_NE(a->group(), nullptr);
  EXPECT_EQ(b->group(), a->group());
  EXPECT_EQ(c->group(), a->group());
  EXPECT_EQ(lone->group(), nullptr);
  auto value = [](mui::MuCheck* x) { return x->getValue(); };
  a->setValue(true);
  EXPECT_TRUE(c->performAction("click", "1"));
  EXPECT_FALSE(value(a));
  EXPECT_FALSE(value(b));
  EXPECT_TRUE(value(c));
  EXPECT_THAT(c->describe().c_str(), HasSubstr("type Radio\nvalue 1\n"));
  // Leaving one by one; the last leaver takes the group with it (the
  // sanitizer sees a leak or a double free otherwise).
  dialog->remove(a);
  dialog->remove(c);
  EXPECT_EQ(b->group()->members().size(), 1u);
  dialog->remove(b);
}

TEST_F(MuControlsTest, ChoiceActions) {
  auto* choice = static_cast<yarl_test::MuTestChoice*>(mui::MuChoice::create(dialog.get(), "ch", "Pick", 0));
  choice->insertItem(-1, "one");
  choice->insertItem(-1, "two");
  EXPECT_TRUE(choice->performAction("select", "1"));
  EXPECT_TRUE(choice->performAction("settext", "three"));
  EXPECT_TRUE(choice->performAction("click", nullptr));
  EXPECT_FALSE(choice->performAction("select", nullptr));
  EXPECT_EQ(choice->getSelected(), 1);
  EXPECT_THAT(choice->describe().c_str(), HasSubstr("element Choice\nvalue 1\nvaluestr three\n"));
  EXPECT_THAT(log, ElementsAre("r:ch:0", "r:ch:0", "r:ch:1"));
}

TEST_F(MuControlsTest, EditHidesPasswordsAndSetsTextByAction) {
  auto* edit = mui::MuEdit::create(dialog.get(), "e", nullptr, mui::MuEdit::kText, 0);
  auto* pwd = mui::MuEdit::create(dialog.get(), "p", nullptr, mui::MuEdit::kPassword, 0);
  EXPECT_TRUE(edit->performAction("settext", "hello"));
  EXPECT_TRUE(pwd->performAction("settext", "secret"));
  EXPECT_THAT(edit->describe().c_str(), HasSubstr("element Edit\ntype Text\nvalue hello\n"));
  EXPECT_THAT(pwd->describe().c_str(), HasSubstr("element Edit\ntype Password\nvalue <hidden>\n"));
  EXPECT_STREQ(pwd->getText(), "secret");
  EXPECT_THAT(log, ElementsAre("r:e:0", "r:p:0"));
}

TEST(MuNumericFilter, AcceptsWholeNumbersInRange) {
  struct Case {
    int32_t min, max;
    const char* text;
    bool accepted;
  };
  const Case cases[] = {
      {0, 100, "", true},     {0, 100, "7", true},
      {0, 100, "100", true},  {0, 100, "0", true},
      {0, 100, "-", false},   {0, 100, "007", false},
      {0, 100, "101", false}, {0, 100, "-0", false},
      {0, 100, "1a", false},  {-5, 5, "-", true},
      {-5, 5, "-5", true},    {-5, 5, "-6", false},
      {-5, 5, "-05", false},  {INT32_MIN, INT32_MAX, "2147483648", false},
      {0, 100, "+7", true},
  };
  for (const Case& c : cases) {
    mui::MuEdit::NumericFilter filter(c.min, c.max);
    EXPECT_EQ(filter.accept(c.text), c.accepted) << c.text << " in " << c.min << ".." << c.max;
  }
}

TEST_F(MuControlsTest, TypingGoesThroughTheNumericFilter) {
  auto* edit = static_cast<yarl_test::MuTestEdit*>(mui::MuEdit::create(dialog.get(), "n", nullptr, 0, 0));
  edit->setNumeric();
  EXPECT_TRUE(edit->type("-2147483648"));
  EXPECT_FALSE(edit->type("12x"));
  EXPECT_EQ(edit->text, "-2147483648");
}

TEST_F(MuControlsTest, ListRowsCellsAndItems) {
  auto* list = mui::MuList::create(dialog.get(), "l", mui::MuList::kHeader, nullptr);
  list->addColumn(7, 0, "Name", -1);
  list->addColumn(9, mui::MuList::kImageColumn, nullptr, 16);
  list->insertRow(-1);
  EXPECT_STREQ(list->listItems().c_str(), "0:\"\"|\"\"\n");
  list->setRow(0, {"b", "img"});
  list->insertRow(0);
  list->setCell(0, 7, "a");
  list->setCell(0, 8, "unknown column");
  list->setCell(5, 7, "no such row");
  list->insertRow(99);
  EXPECT_STREQ(list->listItems().c_str(), "0:\"a\"|\"\"\n1:\"b\"|\"img\"\n2:\"\"|\"\"\n");
  EXPECT_EQ(list->findColumn(9), 1);
  EXPECT_EQ(list->findColumn(8), -1);
  list->removeRow(3);
  list->removeRow(1);
  EXPECT_EQ(list->rowCount(), 2);
  EXPECT_TRUE(list->performAction("select", "1"));
  EXPECT_THAT(list->describe().c_str(), HasSubstr("element List\nvalue 1\n"));
  list->removeAllRows();
  EXPECT_STREQ(list->listItems().c_str(), "");
}

TEST_F(MuControlsTest, FrameLineAndImageDescriptions) {
  auto* frame = mui::MuFrame::create(dialog.get(), "f", nullptr, mui::MuFrame::kBordered);
  const int32_t m = mui::Mui::instance()->metric(mui::Mui::kFrameMargin);
  EXPECT_THAT(frame->describe().c_str(),
              HasSubstr("element Frame\ntype Bordered\nmargin " + std::to_string(m) + "," + std::to_string(m) + "\n"));
  frame->setMargins({3, 4});
  mui::MuElement* inner = MuTestBackend::element(frame, "in", {50, 20});
  EXPECT_EQ(frame->widthForHeight(-1), 56);
  EXPECT_EQ(frame->heightForWidth(-1), 28);
  frame->setSize({100, 40});
  EXPECT_EQ(mui_test::placement(inner), (mui_test::Placement{3, 4, 94, 32}));

  auto* etched = mui::MuLine::create(dialog.get(), "l1", true, 1, 5);
  auto* coloured = mui::MuLine::create(dialog.get(), "l2", false, 0, 5);
  coloured->setThickness(3);
  etched->setThickness(3);
  EXPECT_EQ(etched->thickness(), 2);
  EXPECT_EQ(coloured->thickness(), 3);
  EXPECT_THAT(etched->describe().c_str(), HasSubstr("element Line\ntype horizontal type etched\n"));
  EXPECT_THAT(coloured->describe().c_str(), HasSubstr("element Line\ntype vertical type color\n"));

  auto* image = mui::MuImage::create(dialog.get(), "i", nullptr, {8, 8});
  image->setSize({8, 8});
  EXPECT_THAT(image->describe().c_str(), HasSubstr("element Image\nvalue <unknown>\nimSize 8,8\n"));
  image->setImage("logo", {8, 8});
  EXPECT_THAT(image->describe().c_str(), HasSubstr("value logo\n"));
}

// ---- The button bar ----

TEST_F(MuControlsTest, ButtonBarOrderAndDefaults) {
  struct Case {
    uint32_t buttons;
    std::vector<std::string> children;
    const char* defaultId;
    const char* cancelId;
  };
  using B = mui::MuButtonBar;
  const Case cases[] = {
      {B::kOk | B::kCancel, {"-", "-", "cancel", "ok"}, "ok", "cancel"},
      {B::kYes | B::kNo, {"-", "no", "yes"}, "yes", "no"},
      {B::kBack | B::kNext | B::kContinue, {"-", "back", "next", "-", "continue"}, "continue", "-"},
      {B::kSave | B::kOpen | B::kApply, {"-", "apply", "save", "open"}, "save", "-"},
      {B::kNext, {"-", "next", "-"}, "next", "-"},
  };
  for (const Case& c : cases) {
    auto d = makeDialog("bar");
    {
      mui::MuButtonBar bar(d.get(), c.buttons, true);
      mui::MuElement* footer = d->findElement("buttons");
      ASSERT_NE(footer, nullptr);
      EXPECT_STREQ(footer->typeName(), "frame");
      EXPECT_EQ(bar.layout(), d->findElement("buttons.layout"));
      EXPECT_EQ(childIds(bar.layout()), c.children) << c.buttons;
      EXPECT_EQ(idOf(d->button(mui::kDefaultButton)), c.defaultId) << c.buttons;
      EXPECT_EQ(idOf(d->button(mui::kCancelButton)), c.cancelId) << c.buttons;
    }
    // Gone with the bar, and the dialog no longer points at its buttons.
    EXPECT_EQ(d->childCount(), 0);
    EXPECT_EQ(d->button(mui::kDefaultButton), nullptr);
    EXPECT_EQ(d->button(mui::kCancelButton), nullptr);
  }
}

TEST_F(MuControlsTest, ButtonBarPlacesItselfAndPressesByKey) {
  auto* content = mui::MuLayout::create(dialog.get(), "content", mui::MuLayout::kVertical);
  mui::MuButtonBar bar(dialog.get(), mui::MuButtonBar::kOk | mui::MuButtonBar::kCancel, true);
  dialog->setSize({300, 400});
  mui::MuElement* footer = dialog->findElement("buttons");
  EXPECT_EQ(footer->getPosition().y + footer->getSize().height, 400);
  EXPECT_EQ(content->getPosition().y, dialog->margin());
  EXPECT_TRUE(dialog->handleKey(0xFF1B));
  EXPECT_TRUE(dialog->handleKey(0xFF0D));
  EXPECT_THAT(log, testing::IsSupersetOf({"r:cancel:1", "r:ok:1"}));
  EXPECT_EQ(bar.buttonBit(dialog->findElement("buttons.layout.ok")), mui::MuButtonBar::kOk);
  EXPECT_EQ(bar.buttonBit(content), 0u);
  bar.setEnabled(false);
  EXPECT_FALSE(dialog->handleKey(0xFF0D));
}

TEST_F(MuControlsTest, ButtonBarInsideAContainerAndCustomButtons) {
  auto* panel = mui::MuLayout::create(dialog.get(), "panel", mui::MuLayout::kVertical);
  mui::MuButtonBar bar(panel, mui::MuButtonBar::kOk, false);
  EXPECT_EQ(bar.layout(), dialog->findElement("panel.buttons"));
  EXPECT_EQ(dialog->button(mui::kDefaultButton), nullptr);
  mui::MuButton* first = bar.addButton(mui::MuButtonBar::kCustom, "first", "First");
  mui::MuButton* second = bar.addButton(mui::MuButtonBar::kCustom, "second", "Second");
  bar.addButton(mui::MuButtonBar::kCustom, nullptr, "Anonymous");
  EXPECT_EQ(bar.addButton(0x8000, "x", "X"), nullptr);
  EXPECT_EQ(childIds(bar.layout()), (std::vector<std::string>{"-", "second", "first", "-", "ok"}));
  EXPECT_EQ(bar.findButton(mui::MuButtonBar::kCustom, "first"), first);
  EXPECT_EQ(bar.findButton(mui::MuButtonBar::kCustom, "second"), second);
  EXPECT_EQ(bar.findButton(mui::MuButtonBar::kCancel, nullptr), nullptr);
  bar.setDialogButton(mui::kCancelButton, {mui::MuButtonBar::kCancel, mui::MuButtonBar::kCustom, 0});
  EXPECT_EQ(dialog->button(mui::kCancelButton)->label(), std::string("Anonymous"));
  bar.setButtons(mui::MuButtonBar::kYes, true);
  EXPECT_EQ(childIds(bar.layout()), (std::vector<std::string>{"-", "yes"}));
  EXPECT_EQ(dialog->button(mui::kCancelButton), nullptr);
  EXPECT_EQ(idOf(dialog->button(mui::kDefaultButton)), "yes");
}

TEST(MuButtonBarTexts, EveryLabelHasItsTextInEveryLanguage) {
  mui::MuButtonBar::registerTexts();
  loc::Localize& localize = loc::Localize::instance();
  const char* keys[] = {"ui_button_ok",   "ui_button_cancel", "ui_button_apply",    "ui_button_yes",  "ui_button_no",
                        "ui_button_back", "ui_button_next",   "ui_button_continue", "ui_button_save", "ui_button_open"};
  for (const char* language : {"en", "de", "es", "fr", "pt"}) {
    auto* table = localize.table(language);
    ASSERT_NE(table, nullptr) << language;
    for (const char* key : keys) EXPECT_TRUE(table->count(key)) << language << " " << key;
  }
}

}  // namespace
