#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Injector.h"
#include "platform/objc/Number.h"
#include "qocore/uilibs/mui/mac/MuButtonHyperlinkMac.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {
namespace {

using mui_test::kKeyA;

class MuButtonHyperlinkMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muButtonFactory = MuButtonMac::create;
  }
  void TearDown() override {
    appkit::Application::shared().setFullKeyboardAccessEnabled(false);
    MacPeerTest::TearDown();
  }
  // Made through the button hook, as every button is.
  MuButtonHyperlinkMac* link(const char* label, uint32_t flags = 0) {
    MuButton* b = MuButton::create(dialog_.get(), "link", label, MuButton::kHyperlink, flags, 0);
    auto* h = dynamic_cast<MuButtonHyperlinkMac*>(b);
    EXPECT_NE(h, nullptr);
    return h;
  }
  // A hyperlink placed in the shown dialog.
  MuButtonHyperlinkMac* shownLink(const char* label) {
    MuButtonHyperlinkMac* h = link(label);
    h->setPosition({10, 10});
    h->setSize({200, 40});
    dialog_->setPosition({0, 0});
    dialog_->setVisible(true);
    return h;
  }
  static std::string shown(MuButtonHyperlinkMac* h) { return h->textView().textStorage()->string()->utf8(); }
  static std::vector<std::string> clicked(int times) {
    return std::vector<std::string>(times, "r:link:" + std::to_string(kEventClicked));
  }
};

TEST_F(MuButtonHyperlinkMacTest, TheLabelWithoutMnemonicIsOneLeftAlignedLink) {
  MuButtonHyperlinkMac* h = link("&Forgot password?");
  EXPECT_EQ(shown(h), "Forgot password?");
  EXPECT_EQ(nativeViewOf(h), h->textView().view());
  EXPECT_FALSE(h->textView().view()->isEditable());

  appkit::TextStorage* text = h->textView().textStorage();
  appkit::Range run;
  const appkit::Attributes& a = text->attributesAt(0, &run);
  EXPECT_EQ(run.location, 0u);
  EXPECT_EQ(run.length, text->length());  // one link over the whole label
  auto* target = dynamic_cast<objc::String*>(a.get(appkit::kLinkAttributeName));
  ASSERT_NE(target, nullptr);
  EXPECT_STREQ(target->utf8(), "");
  auto* colour = dynamic_cast<appkit::Color*>(a.get(appkit::kForegroundColorAttributeName));
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(ui::rgbFromColour(colour), ui::rgbFromColour(ui::getColour("linkText")));
  auto* underline = dynamic_cast<objc::Number*>(a.get(appkit::kUnderlineStyleAttributeName));
  ASSERT_NE(underline, nullptr);
  EXPECT_EQ(underline->longValue(), appkit::kUnderlineStyleSingle);
  auto* cursor = dynamic_cast<objc::Number*>(a.get(appkit::kCursorAttributeName));
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor->longValue(), appkit::kCursorPointingHand);
  auto* paragraph = dynamic_cast<appkit::ParagraphStyle*>(a.get(appkit::kParagraphStyleAttributeName));
  ASSERT_NE(paragraph, nullptr);
  EXPECT_EQ(paragraph->alignment(), appkit::kTextAlignmentLeft);

  // A new label is the new link.
  h->setText("Show &details");
  EXPECT_EQ(shown(h), "Show details");
  EXPECT_NE(text->attributeAt(appkit::kLinkAttributeName, text->length() - 1), nullptr);
}

TEST_F(MuButtonHyperlinkMacTest, AClickOnTheLinkOrTheSpaceBarSendsOneClick) {
  appkit::Application::shared().setFullKeyboardAccessEnabled(true);
  MuButtonHyperlinkMac* h = shownLink("Open the log");
  appkit::TextView* view = h->textView().view();
  const appkit::Point onLink = view->convertPointToView({5, 5}, nullptr);
  appkit::inject::click(view->window(), onLink);
  appkit::inject::handleQueued();
  EXPECT_EQ(elementEvents(), clicked(1));
  // Clicking shows no caret or selection.
  EXPECT_EQ(view->selectedRange().length, 0u);
  EXPECT_EQ(view->selectedRange().location, 0u);

  h->setFocus();
  ASSERT_TRUE(h->hasFocus());
  appkit::inject::key(MuButtonHyperlinkMac::kSpaceKeyCode, " ");
  appkit::inject::handleQueued();
  EXPECT_EQ(elementEvents(), clicked(2));
  // Other keys do not click, nor do they change the text.
  appkit::inject::key(kKeyA, "a");
  appkit::inject::handleQueued();
  EXPECT_EQ(elementEvents(), clicked(2));
  EXPECT_EQ(shown(h), "Open the log");

  // Disabled, neither clicks nor the space bar count.
  h->setEnabled(false);
  appkit::inject::click(view->window(), onLink);
  appkit::inject::key(MuButtonHyperlinkMac::kSpaceKeyCode, " ");
  appkit::inject::handleQueued();
  EXPECT_EQ(elementEvents(), clicked(2));
}

TEST_F(MuButtonHyperlinkMacTest, FocusNeedsFullKeyboardAccessAndNoNotFocusableFlag) {
  struct Case {
    uint32_t flags;
    bool fullKeyboardAccess;
    bool accepts;
  };
  const Case cases[] = {
      {0, false, false},
      {0, true, true},
      {MuButton::kNotFocusable, true, false},
      {MuButton::kNotFocusable, false, false},
  };
  dialog_->setVisible(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.flags << " " << c.fullKeyboardAccess);
    appkit::Application::shared().setFullKeyboardAccessEnabled(c.fullKeyboardAccess);
    MuButtonHyperlinkMac* h = link("Help", c.flags);
    EXPECT_EQ(h->textView().view()->acceptsFirstResponder(), c.accepts);
    EXPECT_EQ(h->textView().view()->canBecomeKeyView(), c.accepts);
    h->setFocus();
    EXPECT_EQ(h->hasFocus(), c.accepts);
    dialog_->remove(h);
  }
}

TEST_F(MuButtonHyperlinkMacTest, SizeHintsAreTheTextViewsMeasure) {
  MuButtonHyperlinkMac* h = link("&Help");
  EXPECT_EQ(h->widthForHeight(20), h->textView().widthForHeight(20));
  EXPECT_GT(h->widthForHeight(20), 0);
  EXPECT_EQ(h->widthForHeight(20), link("Help")->widthForHeight(20));  // the marker is not measured
  EXPECT_EQ(h->heightForWidth(200), h->textView().heightForWidth(200));

  // A long label wraps in a narrow width.
  h->setText("A link long enough to wrap onto more lines");
  EXPECT_GT(h->heightForWidth(60), h->heightForWidth(1000));
  EXPECT_EQ(h->heightForWidth(60), h->textView().heightForWidth(60));
}

}  // namespace
}  // namespace mui
