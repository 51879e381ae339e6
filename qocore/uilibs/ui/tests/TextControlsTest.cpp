#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextMetrics.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/uilibs/ui/mac/AttrString.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"
#include "qocore/uilibs/ui/mac/TextControls.h"
#include "testing/LogCapture.h"

namespace ui {
namespace {

class TextControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    window_ = new appkit::Window(appkit::makeRect(100, 100, 300, 100), appkit::kWindowStyleTitled);
    window_->setReleasedWhenClosed(false);
    window_->makeKeyAndOrderFront(nullptr);
  }
  void TearDown() override {
    window_->release();
    appkit::Application::reset();
  }

  objc::AutoreleasePool pool_;
  appkit::Window* window_ = nullptr;
};

TEST_F(TextControlsTest, LabelsAndSelectableTextViews) {
  TextView label(nullptr, false, true);
  EXPECT_EQ(label.lineFragmentPadding(), 0);
  EXPECT_FALSE(label.view()->drawsBackground());
  EXPECT_FALSE(label.view()->isEditable());
  EXPECT_FALSE(label.view()->isSelectable());
  EXPECT_FALSE(label.view()->usesRolloverButtonForSelection());
  EXPECT_FALSE(label.view()->isContinuousSpellCheckingEnabled());
  EXPECT_EQ(label.view()->cxx, &label);

  TextView selectable(nullptr, true, true);
  EXPECT_TRUE(selectable.view()->isSelectable());
  EXPECT_FALSE(selectable.view()->isEditable());
  TextView plain(nullptr, true, false);
  EXPECT_EQ(plain.lineFragmentPadding(), appkit::kDefaultLineFragmentPadding);

  // Text set on a text view replaces its storage and puts the caret first.
  setControlText(selectable.view(), "ab cd ef");
  EXPECT_STREQ(selectable.textStorage()->string()->utf8(), "ab cd ef");
  EXPECT_EQ(selectable.view()->selectedRange(), (appkit::Range{0, 0}));
  // 13-point text: 6.5 a character, lines of 16.25.
  EXPECT_EQ(selectable.widthForHeight(20), 52);
  EXPECT_EQ(selectable.heightForWidth(20), 49);
  AttrString bold("bold", false, 0);
  bold.setBold(0);
  setControlAttributedText(selectable.view(), bold.get());
  EXPECT_STREQ(selectable.textStorage()->string()->utf8(), "bold");
  EXPECT_TRUE(
      static_cast<appkit::Font*>(selectable.textStorage()->attributeAt(appkit::kFontAttributeName, 0))->isBold());

  // Other controls take the plain text.
  TextField field(false);
  setControlAttributedText(field.field(), bold.get());
  EXPECT_STREQ(field.field()->stringValue(), "bold");
  auto* button = new appkit::Button;
  setControlAttributedText(button, bold.get());
  EXPECT_STREQ(button->title(), "bold");
  button->release();

  EXPECT_EQ(editFieldSize(), (appkit::Size{2 * appkit::kTextFieldTitleInsetX, appkit::kTextFieldHeight}));
}

TEST_F(TextControlsTest, AFocusedTextViewDrawsItsRingAroundTheText) {
  TextView text(nullptr, true, true);
  text.view()->setFrame(appkit::makeRect(0, 0, 60, 30));
  window_->contentView()->addSubview(text.view());
  setControlText(text.view(), "abcd");  // 26 x 16.25, no padding
  rfb::ManagedPixelBuffer pb(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 60, 30));
  auto draw = [&] {
    rfb::fillRect(pb, pb.getRect(), 0);
    auto* context = new appkit::GraphicsContext(pb, 1, true);
    appkit::GraphicsContext::setCurrent(context);
    text.view()->drawRect(text.view()->bounds());
    appkit::GraphicsContext::setCurrent(nullptr);
    context->release();
  };
  text.setFocusRing(true);
  draw();  // not focused: no ring
  EXPECT_EQ(pb.getPixel(rfb::Point{27, 5}), 0u);
  ASSERT_TRUE(window_->makeFirstResponder(text.view()));
  draw();
  EXPECT_NE(pb.getPixel(rfb::Point{27, 5}), 0u);
  EXPECT_NE(pb.getPixel(rfb::Point{10, 17}), 0u);
  EXPECT_EQ(pb.getPixel(rfb::Point{10, 5}), 0u) << "inside the ring";
  EXPECT_EQ(pb.getPixel(rfb::Point{40, 5}), 0u) << "beyond the text";
  text.setFocusRing(false);
  draw();
  EXPECT_EQ(pb.getPixel(rfb::Point{27, 5}), 0u);
  text.view()->removeFromSuperview();
}

// The text view's receiver; clicks on links are recorded and may throw.
class Receiver : public TextViewDelegate, public TextView::Callback {
 public:
  void linkClicked(objc::Object* link) override {
    links.push_back(static_cast<objc::String*>(link)->utf8());
    if (fail) throw plat::Exception("link broke");
  }
  bool refuseSelectionChange(appkit::TextView*, const std::vector<appkit::Range>&,
                             const std::vector<appkit::Range>&) override {
    return refuse;
  }
  bool acceptsFirstResponder(TextView*) override { return true; }
  bool canBecomeKeyView(TextView*) override { return true; }
  bool keyDown(TextView*, appkit::Event* e) override {
    keys.push_back(e->keyCode());
    return e->keyCode() == 53;
  }
  std::vector<int> keys;

  std::vector<std::string> links;
  bool fail = false;
  bool refuse = false;
};

TEST_F(TextControlsTest, LinkClicksReachTheTextViewBridge) {
  yarl_test::LogCapture log;
  Receiver receiver;
  TextView text(&receiver, true, true);
  text.view()->setFrame(appkit::makeRect(0, 0, 300, 100));
  window_->contentView()->addSubview(text.view());
  AttrStringMarkup markup("see <a href=\"http://x/\">here</a>");
  setControlAttributedText(text.view(), markup.get());
  // No padding in a label: "h" spans 26 to 32.5; 5 from the top of the
  // flipped view is 95 in the window.
  auto holder = std::make_unique<TextViewDelegateHolder>(&receiver, text.view());
  appkit::inject::click(window_, {27, 95});
  appkit::inject::handleQueued();
  EXPECT_EQ(receiver.links, (std::vector<std::string>{"http://x/"}));
  // A receiver that throws still has the click handled, and logged.
  receiver.fail = true;
  EXPECT_TRUE(holder->bridge()->clickedOnLink(text.view(), objc::String::withUtf8("http://y/"), 4));
  receiver.fail = false;
  EXPECT_EQ(log.from("TextViewDelegate"),
            (std::vector<yarl_test::LogRecord>{{"TextViewDelegate", 0, "Unhandled exception: link broke"}}));

  // The receiver may keep the old selection.
  appkit::inject::click(window_, {8, 95});
  appkit::inject::handleQueued();
  EXPECT_EQ(text.view()->selectedRange(), (appkit::Range{1, 0}));
  receiver.refuse = true;
  appkit::inject::click(window_, {14, 60});
  appkit::inject::handleQueued();
  EXPECT_EQ(text.view()->selectedRange(), (appkit::Range{1, 0}));

  // Gone holder, gone delegate: a late click reaches no one.
  TextViewDelegateOC* bridge = holder->bridge();
  bridge->retain();
  holder.reset();
  EXPECT_EQ(text.view()->delegate(), nullptr);
  EXPECT_EQ(bridge->cxx, nullptr);
  EXPECT_FALSE(bridge->clickedOnLink(text.view(), objc::String::withUtf8("http://z/"), 4));
  bridge->release();
  appkit::inject::click(window_, {27, 95});
  appkit::inject::handleQueued();
  EXPECT_EQ(receiver.links.size(), 2u);

  // Keys go to the callback first; without the back pointer, nowhere.
  ASSERT_TRUE(window_->makeFirstResponder(text.view()));
  appkit::inject::key(53, "\x1B");
  appkit::inject::key(0, "a");
  appkit::inject::handleQueued();
  text.view()->cxx = nullptr;
  appkit::inject::key(1, "s");
  appkit::inject::handleQueued();
  text.view()->cxx = &text;
  EXPECT_EQ(receiver.keys, (std::vector<int>{53, 0}));
  text.view()->removeFromSuperview();
}

// The edit peer's share: tabs and line feeds are stripped, "x" is refused.
class Edit : public NSFormatterCxx::Callback, public TextFieldDelegate {
 public:
  plat::CharArray fixPartialString(const char* text, appkit::TextField*) override {
    std::string s;
    for (const char* p = text; *p; ++p)
      if (*p != '\t' && *p != '\n') s += *p;
    return plat::CharArray(s.c_str());
  }
  bool isPartialStringValid(const char* text, appkit::TextField*) override {
    return std::string(text).find('x') == std::string::npos;
  }
  void textDidChange(appkit::TextField* control) override { changes.push_back(control->stringValue()); }
  void textDidEndEditing(appkit::TextField*) override { ++ended; }
  std::vector<std::string> changes;
  int ended = 0;
};

TEST_F(TextControlsTest, TheFormatterBridgeFixesOrRefusesEachEdit) {
  Edit edit;
  TextField field(true);
  field.field()->setFrame(appkit::makeRect(10, 10, 200, 21));
  window_->contentView()->addSubview(field.field());
  auto formatter = std::make_unique<NSFormatterCxx>(&edit, field.field());
  auto delegate = std::make_unique<TextFieldDelegateHolder>(&edit, field.field());
  field.field()->setStringValue("ab");
  ASSERT_TRUE(window_->makeFirstResponder(field.field()));
  EXPECT_TRUE(isFirstResponder(field.field()));
  auto* editor = static_cast<appkit::FieldEditor*>(window_->firstResponder());
  editor->setSelectedRange(appkit::Range{2, 0});

  editor->insertText("\t");  // stripped: the text before, so refused
  EXPECT_STREQ(field.field()->stringValue(), "ab");
  editor->insertText("c\n");  // stripped text in place, caret at its end
  EXPECT_STREQ(field.field()->stringValue(), "abc");
  EXPECT_EQ(editor->selectedRange(), (appkit::Range{3, 0}));
  appkit::inject::key(7, "x");  // refused by the callback
  appkit::inject::handleQueued();
  appkit::inject::key(2, "d");
  appkit::inject::handleQueued();
  EXPECT_STREQ(field.field()->stringValue(), "abcd");
  EXPECT_STREQ(field.field()->displayedString().c_str(), "\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2");
  EXPECT_EQ(edit.changes, (std::vector<std::string>{"abc", "abcd"}));
  // The field editor draws a secure field's text as the field shows it.
  appkit::clearTextDrawings();
  editor->drawRect(editor->bounds());
  ASSERT_EQ(appkit::textDrawings().size(), 1u);
  EXPECT_STREQ(appkit::textDrawings()[0].text.c_str(), field.field()->displayedString().c_str());
  appkit::clearTextDrawings();
  endFieldEditing(window_);
  EXPECT_EQ(edit.ended, 1);

  // The holders take their bridges off the field.
  delegate.reset();
  formatter.reset();
  EXPECT_EQ(field.field()->delegate(), nullptr);
  EXPECT_EQ(field.field()->formatter(), nullptr);
  ASSERT_TRUE(window_->makeFirstResponder(field.field()));
  static_cast<appkit::FieldEditor*>(window_->firstResponder())->insertText("\tx");
  EXPECT_STREQ(field.field()->stringValue(), "\tx");
  EXPECT_EQ(edit.changes.size(), 2u);
  field.field()->removeFromSuperview();
}

}  // namespace
}  // namespace ui
