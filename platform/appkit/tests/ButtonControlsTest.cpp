#include <gtest/gtest.h>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/Selector.h"
#include "platform/appkit/TextField.h"

namespace appkit {
namespace {

// Counts the actions a control sends.
class ActionCounter : public Responder {
 public:
  ActionCounter() {
    setActionHandler(selector("act:"), [this](objc::Object*) { ++count; });
  }
  int count = 0;
};

class ButtonControlsTest : public testing::Test {
 protected:
  void SetUp() override { Application::reset(); }
  void TearDown() override {
    target->release();
    Application::reset();
  }
  template <class C>
  C* wire(C* control) {
    control->setTarget(target);
    control->setAction(selector("act:"));
    return control;
  }
  void click(Control* control) {
    // Autoreleased.
    control->mouseDown(Event::mouseEvent(kEventLeftMouseDown, {1, 1}, 0, 0, 0, 0, 1, 1));
  }
  objc::AutoreleasePool pool_;
  ActionCounter* target = new ActionCounter;
};

TEST_F(ButtonControlsTest, ClicksMoveTheStateOnAndProgramChangesSendNothing) {
  struct Case {
    int type;
    bool allowsMixed;
    int from;
    int to;
  };
  const Case cases[] = {
      {kButtonSwitch, false, kStateOff, kStateOn},
      {kButtonSwitch, false, kStateOn, kStateOff},
      {kButtonSwitch, true, kStateMixed, kStateOn},
      {kButtonSwitch, true, kStateOff, kStateMixed},
      {kButtonRadio, false, kStateOn, kStateOn},
      {kButtonRadio, false, kStateOff, kStateOn},
      {kButtonMomentaryLight, false, kStateOff, kStateOff},
  };
  for (const Case& c : cases) {
    Button* b = wire(new Button);
    b->setButtonType(c.type);
    b->setAllowsMixedState(c.allowsMixed);
    b->setState(c.from);
    EXPECT_EQ(b->state(), c.from);
    EXPECT_EQ(target->count, 0);
    click(b);
    EXPECT_EQ(b->state(), c.to) << c.type << " " << c.from;
    EXPECT_EQ(target->count, 1);
    target->count = 0;
    b->release();
  }
  // Without the mixed state allowed, mixed is taken as on.
  Button* b = new Button;
  b->setState(kStateMixed);
  EXPECT_EQ(b->state(), kStateOn);
  b->release();
}

TEST_F(ButtonControlsTest, ImagesAreRetainedAndWidenTheFit) {
  Button* b = new Button;
  b->setTitle("OK");
  b->sizeToFit();
  const double plain = b->frame().size.width;
  Image* image = new Image({20, 40});
  b->setImage(image);
  b->setAlternateImage(image);
  EXPECT_EQ(image->retainCount(), 3);
  b->setImagePosition(kImageLeft);
  b->sizeToFit();
  EXPECT_GT(b->frame().size.width, plain + 20);
  EXPECT_GE(b->frame().size.height, 42);
  b->setAlternateImage(nullptr);
  EXPECT_EQ(image->retainCount(), 2);
  b->release();
  EXPECT_EQ(image->retainCount(), 1);
  image->release();
}

TEST_F(ButtonControlsTest, PopUpSelectsInCodeQuietlyAndReportsTheUsersPick) {
  PopUpButton* p = wire(new PopUpButton);
  p->addItemWithTitle("a");
  p->addItemWithTitle("bbb");
  p->addItemWithTitle("c");
  EXPECT_EQ(p->indexOfSelectedItem(), 0);
  EXPECT_STREQ(p->title(), "a");
  p->selectItemAtIndex(2);
  EXPECT_STREQ(p->title(), "c");
  p->removeItemAtIndex(0);
  EXPECT_EQ(p->indexOfSelectedItem(), 1);
  EXPECT_EQ(target->count, 0);
  p->chooseItem(0);
  EXPECT_STREQ(p->title(), "bbb");
  EXPECT_EQ(target->count, 1);
  p->chooseItem(5);
  EXPECT_EQ(target->count, 1);
  p->selectItemAtIndex(-1);
  EXPECT_STREQ(p->title(), "");
  p->release();
}

TEST_F(ButtonControlsTest, ComboBoxTypingClearsTheSelectionAndOnlyEditableBoxesTakeIt) {
  ComboBox* c = wire(new ComboBox);
  c->addItemWithObjectValue("one");
  c->addItemWithObjectValue("two");
  c->selectItemAtIndex(1);
  EXPECT_STREQ(c->stringValue(), "two");
  c->setStringValue("three");
  EXPECT_EQ(c->indexOfSelectedItem(), -1);
  EXPECT_EQ(target->count, 0);
  c->typeText("four");
  EXPECT_STREQ(c->stringValue(), "four");
  EXPECT_EQ(target->count, 1);
  c->setEditable(false);
  c->typeText("five");
  EXPECT_STREQ(c->stringValue(), "four");
  c->chooseItem(0);
  EXPECT_STREQ(c->stringValue(), "one");
  EXPECT_EQ(target->count, 2);
  c->release();
}

TEST_F(ButtonControlsTest, CellsPlaceTheirTitleAndItsFirstBaseline) {
  // The system font's line is 16.25 points (17 rounded up), its ascender
  // 9.75.
  struct Case {
    const char* name;
    Control* control;
    Rect title;  // in bounds of 100 x 25
    double baseline;
  };
  const Case cases[] = {
      {"pop-up", new PopUpButton, makeRect(kButtonPadding, 4, 100 - kButtonPadding - kPopUpArrowWidth, 17), 13.75},
      {"text field", new TextField, makeRect(2, 2, 96, 21), 11.75},
      {"combo box", new ComboBox, makeRect(2, 2, 96, 21), 11.75},
      {"plain", new Control, makeRect(0, 0, 100, 25), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.control->setFrame(makeRect(0, 0, 100, 25));
    EXPECT_EQ(c.control->cell()->titleRectForBounds(c.control->bounds()), c.title);
    EXPECT_EQ(c.control->firstBaselineOffsetFromTop(), c.baseline);
    c.control->release();
  }
  // A field's own font sets its title.
  auto* field = new TextField(makeRect(0, 0, 100, 3));
  field->setFont(Font::systemFontOfSize(20));
  EXPECT_EQ(field->textCell()->font()->pointSize(), 20);
  // Too low for a title: the drawing rectangle's top.
  EXPECT_EQ(field->firstBaselineOffsetFromTop(), 15);
  field->release();
}

}  // namespace
}  // namespace appkit
