#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/TextSystem.h"
#include "platform/objc/String.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuTextMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

struct Opened : plat::Markup::LinkCallback {
  void openLink(const char* link) override { links.emplace_back(link); }
  std::vector<std::string> links;
};

class MuTextMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muTextFactory = MuTextMac::create;
  }
  MuTextMac* text(const char* created, plat::Markup::LinkCallback* callback, uint32_t selectable) {
    return static_cast<MuTextMac*>(MuText::create(dialog_.get(), "t", created, callback, selectable));
  }
  static std::string shown(MuTextMac* t) { return t->textView().textStorage()->string()->utf8(); }
};

TEST_F(MuTextMacTest, CreatedTextIsShownAsPlainTextNotMarkup) {
  MuTextMac* t = text("a <b>bold</b> & more", nullptr, 0);
  EXPECT_EQ(shown(t), "a <b>bold</b> & more");
  EXPECT_EQ(nativeViewOf(t), t->textView().view());
  EXPECT_FALSE(t->textView().view()->isEditable());
}

TEST_F(MuTextMacTest, LinksMakeTheTextSelectableAndReachOpenLink) {
  Opened opened;
  MuTextMac* t = text(nullptr, &opened, 0);
  t->setText("plain");
  EXPECT_FALSE(t->textView().view()->isSelectable());
  t->setText("see <a href=\"https://example.com/terms\">the terms</a>");
  EXPECT_EQ(shown(t), "see the terms");
  EXPECT_TRUE(t->textView().view()->isSelectable());
  // A link-only selectable text never shows a selection.
  EXPECT_TRUE(t->refuseSelectionChange(t->textView().view(), {}, {}));
  t->bridge()->clickedOnLink(t->textView().view(), objc::String::withUtf8("https://example.com/terms"), 5);
  EXPECT_EQ(opened.links, (std::vector<std::string>{"https://example.com/terms"}));
  // New markup recomputes it.
  t->setText("no links now");
  EXPECT_FALSE(t->textView().view()->isSelectable());
}

TEST_F(MuTextMacTest, SelectableFlagAndNoCallback) {
  MuTextMac* t = text("words", nullptr, 1);
  EXPECT_TRUE(t->textView().view()->isSelectable());
  EXPECT_FALSE(t->refuseSelectionChange(t->textView().view(), {}, {}));
  // Nothing to call: nothing happens.
  EXPECT_TRUE(t->bridge()->clickedOnLink(t->textView().view(), objc::String::withUtf8("x"), 0));
  t->setBackgroundColour("#102030");
  EXPECT_TRUE(t->textView().view()->drawsBackground());
  EXPECT_GT(t->heightForWidth(200), 0);
}

TEST_F(MuTextMacTest, TheBackgroundShowsOnlyWithAColour) {
  MuTextMac* t = text("words", nullptr, 0);
  t->setSize({60, 20});
  appkit::TextView* view = t->textView().view();
  // Fresh, and styled without a colour: transparent.
  EXPECT_EQ(mui_test::drawnPixel(view, 50, 10), 0u);
  t->refreshStyle();
  EXPECT_EQ(mui_test::drawnPixel(view, 50, 10), 0u);
  t->setBackgroundColour("#102030");
  EXPECT_EQ(mui_test::drawnPixel(view, 50, 10), 0xff302010u);
  // A name no one knows: the grey fallback.
  t->setBackgroundColour("no such colour");
  EXPECT_EQ(mui_test::drawnPixel(view, 50, 10), 0xff808080u);
}

TEST_F(MuTextMacTest, LinksLookAsTheMarkupSays) {
  MuTextMac* t = text(nullptr, nullptr, 0);
  t->setText("<a href=\"https://example.com/\" style=\"color: #ff0000\">here</a>");
  t->setSize({200, 20});
  appkit::TextView* view = t->textView().view();
  EXPECT_TRUE(view->linkTextAttributes().empty());
  appkit::clearTextDrawings();
  mui_test::drawView(view, 1, view->bounds());
  ASSERT_EQ(appkit::textDrawings().size(), 1u);
  const appkit::TextDrawing& drawn = appkit::textDrawings().front();
  EXPECT_STREQ(drawn.text.c_str(), "here");
  // The markup's red, not the platform's link colour.
  auto* colour = dynamic_cast<appkit::Color*>(drawn.colour);
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(mui_test::pixelOf(colour), 0xff0000ffu);
  EXPECT_TRUE(drawn.underlined);
}

}  // namespace
}  // namespace mui
