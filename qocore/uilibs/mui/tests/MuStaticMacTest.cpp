#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Injector.h"
#include "platform/objc/String.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuStaticMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

class MuStaticMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muStaticFactory = MuStaticMac::create;
  }
  MuStaticMac* label(const char* text, uint32_t type) {
    return static_cast<MuStaticMac*>(MuStatic::create(dialog_.get(), "s", text, type));
  }
  static objc::Object* colourOf(MuStaticMac* s) {
    return s->textView().textStorage()->attributeAt(appkit::kForegroundColorAttributeName, 0);
  }
};

TEST_F(MuStaticMacTest, HeadingsAndDetailsTakeTheirSizes) {
  MuStaticMac* heading = label("Title", MuStatic::kHeading);
  EXPECT_EQ(heading->font().size, 140);
  EXPECT_EQ(heading->font().weight, 700);
  MuStaticMac* detail = label("small", MuStatic::kDetail);
  EXPECT_EQ(detail->font().size, 110);
  EXPECT_STREQ(detail->textView().textStorage()->string()->utf8(), "small");
  EXPECT_EQ(nativeViewOf(detail), detail->textView().view());
  EXPECT_FALSE(detail->textView().view()->isSelectable());
  EXPECT_TRUE(label("sel", MuStatic::kSelectable)->textView().view()->isSelectable());
  EXPECT_GT(detail->heightForWidth(200), 0);
  EXPECT_GT(heading->widthForHeight(100), 0);
}

TEST_F(MuStaticMacTest, DisabledLabelsUseTheDisabledColourEvenWithAFontColour) {
  MuStaticMac* s = label("text", MuStatic::kText);
  EXPECT_EQ(colourOf(s), appkit::Color::controlTextColor());
  s->setColour("#ff0000");
  EXPECT_NE(colourOf(s), appkit::Color::controlTextColor());
  s->setEnabled(false);
  EXPECT_EQ(colourOf(s), appkit::Color::disabledControlTextColor());
  // The same text again still shows and recolours.
  s->setEnabled(true);
  s->setText("text", false, 0);
  EXPECT_STREQ(s->textView().textStorage()->string()->utf8(), "text");
  EXPECT_NE(colourOf(s), appkit::Color::disabledControlTextColor());
  s->setText(nullptr, false, 0);
  EXPECT_STREQ(s->textView().textStorage()->string()->utf8(), "");
}

}  // namespace
}  // namespace mui
