#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "platform/appkit/Font.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextMetrics.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/LabelledControl.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"
#include "qocore/uilibs/mui/mac/MuEditMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

// The fixed text metrics at the system font's size: "Name" is 4 x 6.5
// points wide and a line 16.25 points high, so a label of it measures 26
// by 17 (rounded up).
constexpr int32_t kNameWidth = 26;
constexpr int32_t kLineHeight = 17;

struct Released {
  void operator()(objc::Object* o) const { o->release(); }
};

class LabelledControlTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muChoiceFactory = MuChoiceMac::create;
    muEditFactory = MuEditMac::create;
    gap = Mui::instance()->metric(Mui::kLabelGap);
  }
  // A labelled plain control whose title "abcd" fits in 4 x 7 + 4 points.
  LabelledControl* make(const char* label, MuInsets insets = {}) {
    labelled.reset(new LabelledControl(label, insets));
    auto* control = new appkit::Control(appkit::makeRect(0, 0, 1, 1));
    control->setStringValue("abcd");
    labelled->addControl(control);
    control->release();
    return labelled.get();
  }
  // The distance of the label's first baseline from the labelled
  // control's top.
  static double labelBaseline(LabelledControl* l) {
    appkit::TextView* view = l->label();
    return view->frame().origin.y + view->layoutManager()->lineFragments(view->textContainer()).front().baseline;
  }
  static double controlBaseline(LabelledControl* l) {
    return l->control()->frame().origin.y + l->control()->firstBaselineOffsetFromTop();
  }

  static constexpr int32_t kControlWidth = 32;
  int32_t gap = 0;
  std::unique_ptr<LabelledControl, Released> labelled;
};

TEST_F(LabelledControlTest, WithoutALabelTheControlTakesTheWholeFrame) {
  LabelledControl* l = make(nullptr, {1, 2, 3, 4});
  EXPECT_EQ(l->label(), nullptr);
  const LabelledControl::Layout layout = l->layoutFor(100, 20);
  EXPECT_TRUE(layout.label.isEmpty());
  EXPECT_EQ(layout.control, Rect(0, 0, 104, 26));
  EXPECT_EQ(l->naturalWidth(), kControlWidth - 1 - 3);
  EXPECT_EQ(l->labelHeightFor(100), 0);
  EXPECT_EQ(l->labelNaturalWidth(), 0);
}

TEST_F(LabelledControlTest, ColumnsFollowTheirSettings) {
  struct Case {
    const char* name;
    int32_t labelSetting, controlSetting, width;
    int32_t column, control;  // -1: the natural label column
  };
  const int32_t natural = -1;
  // clang-format off
  const Case cases[] = {
      {"natural",                  0,   0, 200, natural, kControlWidth},
      {"fixed label",            100,   0, 200, 100,     kControlWidth},
      {"fixed control",            0,  50, 200, natural, 50},
      {"fixed and weighted",      60,  -1, 200, 60,      140},
      {"weights share the width", -1,  -3, 200, 50,      150},
      {"weights share equally",   -1,  -1, 200, 100,     100},
      {"weights in a narrow one", -1,  -1, 20,  10,      10},
      {"fixed beyond the width", 300,   0, 200, 300,     kControlWidth},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LabelledControl* l = make("Name");
    l->setWidths(c.labelSetting, c.controlSetting);
    const int32_t column = c.column == natural ? kNameWidth + gap : c.column;
    const LabelledControl::Layout layout = l->layoutFor(c.width, 21);
    EXPECT_EQ(layout.control.x1, column);
    EXPECT_EQ(layout.control.width(), c.control);
    EXPECT_EQ(layout.label.x1, 0);
    EXPECT_EQ(layout.label.width(), std::max(column - gap, 0));
  }
}

TEST_F(LabelledControlTest, BelowTheNaturalWidthTheLabelColumnGivesWay) {
  LabelledControl* l = make("Name", {0, 0, 3, 0});
  // The control's natural width leaves its insets out.
  const int32_t control = kControlWidth - 3;
  EXPECT_EQ(l->naturalWidth(), control + kNameWidth + gap);
  // The control keeps its width; the label wraps in what is left.
  LabelledControl::Layout layout = l->layoutFor(control + gap + 10, 21);
  EXPECT_EQ(layout.control, Rect(gap + 10, 0, gap + 10 + control + 3, 21));
  EXPECT_EQ(layout.label.width(), 10);
  EXPECT_GT(layout.label.height(), kLineHeight);
  // Narrower than the control: no room for the label, and the control
  // still starts at the left edge.
  layout = l->layoutFor(control - 5, 21);
  EXPECT_EQ(layout.control.x1, 0);
  EXPECT_EQ(layout.label.width(), 0);
}

TEST_F(LabelledControlTest, TheLabelIsMeasuredAndWrapsInANarrowColumn) {
  // "two words": "two" is 19.5 points, "words" 32.5, both with the blank
  // 58.5.
  LabelledControl* l = make("two words");
  EXPECT_EQ(l->labelNaturalWidth(), 59);
  EXPECT_EQ(l->labelHeightFor(300), kLineHeight);
  l->setWidths(gap + 40, 0);
  EXPECT_EQ(l->labelHeightFor(300), 33);  // two lines of 16.25
  // Laid out in a frame, the label view wraps the same way.
  l->setFrame(appkit::makeRect(0, 0, 300, 40));
  appkit::TextView* label = l->label();
  EXPECT_EQ(label->frame().size.width, 40);
  EXPECT_EQ(label->frame().size.height, 33);
  EXPECT_EQ(label->layoutManager()->lineFragments(label->textContainer()).size(), 2u);
  EXPECT_EQ(l->control()->frame().origin.x, gap + 40);
  // Beside a control without a title the label is centred.
  EXPECT_EQ(label->frame().origin.y, std::floor((40 - 33) / 2.0 + 0.5));
}

TEST_F(LabelledControlTest, TheLabelFollowsTheEnabledState) {
  LabelledControl* l = make("Name");
  auto colour = [&] { return l->labelView()->textStorage()->attributeAt(appkit::kForegroundColorAttributeName, 0); };
  EXPECT_EQ(colour(), appkit::Color::controlTextColor());
  l->setEnabled(false);
  EXPECT_EQ(colour(), appkit::Color::disabledControlTextColor());
  EXPECT_FALSE(l->control()->isEnabled());
  l->setEnabled(true);
  EXPECT_EQ(colour(), appkit::Color::controlTextColor());
  EXPECT_TRUE(l->control()->isEnabled());
}

TEST_F(LabelledControlTest, TheLabelsBaselineIsTheTextFieldsAndThePopUpsBaseline) {
  // Edits at their natural height, and with a title rectangle one label
  // line high (height 23) in the label's font and in a larger one, which
  // moves the label down by the difference of the ascenders.
  struct Case {
    int32_t height;
    double fontSize;
  };
  for (const Case& c : {Case{0, 0}, Case{23, 0}, Case{23, 17}}) {
    SCOPED_TRACE(c.height * 100 + c.fontSize);
    auto* edit = static_cast<MuEditMac*>(MuEdit::create(dialog_.get(), "e", "Name", MuEdit::kText, 0));
    if (c.fontSize > 0) edit->field()->setFont(appkit::Font::systemFontOfSize(c.fontSize));
    edit->setSize({300, c.height > 0 ? c.height : edit->heightForWidth(300)});
    EXPECT_EQ(labelBaseline(edit->labelled()), controlBaseline(edit->labelled()));
    EXPECT_GT(edit->labelled()->control()->frame().origin.x, edit->labelled()->label()->frame().origin.x);
    dialog_->remove(edit);
  }
  for (int32_t height : {17, 30}) {
    SCOPED_TRACE(height);
    auto* choice = static_cast<MuChoiceMac*>(MuChoice::create(dialog_.get(), "c", "Name", 0));
    choice->addItem(1, "An item");
    choice->setSize({300, height});
    EXPECT_EQ(labelBaseline(choice->labelled()), controlBaseline(choice->labelled()));
    dialog_->remove(choice);
  }
}

}  // namespace
}  // namespace mui
