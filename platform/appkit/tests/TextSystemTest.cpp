#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextMetrics.h"
#include "platform/appkit/TextSystem.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/Window.h"
#include "platform/objc/Number.h"

namespace appkit {
namespace {

// A layout manager over one storage and container, as the measurer sets
// them up.
class LayoutTest : public ::testing::Test {
 protected:
  LayoutTest() {
    manager_->addTextContainer(container_);
    storage_->addLayoutManager(manager_);
  }
  ~LayoutTest() override {
    container_->release();
    manager_->release();
    storage_->release();
  }
  // Appends text in the system font of a size (bold when asked).
  void add(const char* text, double size, bool bold = false) {
    Attributes a;
    a.set(kFontAttributeName, bold ? Font::boldSystemFontOfSize(size) : Font::systemFontOfSize(size));
    storage_->append(AttributedString::withUtf8(text, a));
  }
  Rect used(double width, double padding) {
    container_->setContainerSize(Size{width, kFloatMax});
    container_->setLineFragmentPadding(padding);
    return manager_->usedRectForTextContainer(container_);
  }
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (const LineFragment& l : manager_->lineFragments(container_)) {
      objc::String* s = storage_->string()->substring(l.characters.location, l.characters.length);
      out.push_back(s ? s->utf8() : "?");
    }
    return out;
  }
  void paragraph(void (*set)(ParagraphStyle*)) {
    ParagraphStyle* p = ParagraphStyle::defaultStyle()->mutableCopy();
    set(p);
    storage_->addAttribute(kParagraphStyleAttributeName, p, storage_->wholeRange());
    p->release();
  }

  objc::AutoreleasePool pool_;
  TextStorage* storage_ = new TextStorage;
  LayoutManager* manager_ = new LayoutManager;
  TextContainer* container_ = new TextContainer;
};

TEST(TextMetricsTest, AdvancesFollowTheCodePointClassAndWeight) {
  objc::AutoreleasePool pool;
  struct Case {
    uint32_t codePoint;
    double em;
  } cases[] = {
      {'a', 0.5},    {' ', 0.5},    {0x00E9, 0.5}, {0x0301, 0},    {0x200B, 0},    {'\n', 0},
      {0x65E5, 1.0}, {0xAC00, 1.0}, {0xFF21, 1.0}, {0x1F600, 1.0}, {0x20000, 1.0}, {0x0416, 0.5},
  };
  Font* regular = Font::systemFontOfSize(10);
  Font* bold = Font::boldSystemFontOfSize(10);
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(textMetrics().advance(c.codePoint, *regular), c.em * 10) << std::hex << c.codePoint;
    EXPECT_DOUBLE_EQ(textMetrics().advance(c.codePoint, *bold), c.em * 11) << std::hex << c.codePoint;
  }
  // 13-point system font: 0.75 + 0.25 + 0.25 em.
  EXPECT_DOUBLE_EQ(textMetrics().lineHeight(*Font::systemFontOfSize(0)), 16.25);
}

TEST_F(LayoutTest, LinesBreakAfterBlanksAndInsideLongWords) {
  // 10-point text: 5 points a character; 40 wide less 2 x 5 padding
  // leaves 30, six characters.
  add("aaa bbb ccc", 10);
  Rect r = used(40, 5);
  EXPECT_EQ(lines(), (std::vector<std::string>{"aaa ", "bbb ", "ccc"}));
  // The trailing blank hangs: 5 + 15 + 5.
  EXPECT_DOUBLE_EQ(r.size.width, 25);
  EXPECT_DOUBLE_EQ(r.size.height, 3 * 12.5);

  storage_->setAttributedString(nullptr);
  add("abcdefghij", 10);
  r = used(40, 5);
  EXPECT_EQ(lines(), (std::vector<std::string>{"abcdef", "ghij"}));
  EXPECT_DOUBLE_EQ(r.size.width, 40);

  // Blanks never force a break, however many.
  storage_->setAttributedString(nullptr);
  add("abc         \nde", 10);
  r = used(40, 5);
  EXPECT_EQ(lines(), (std::vector<std::string>{"abc         \n", "de"}));
  EXPECT_DOUBLE_EQ(r.size.width, 25);
}

TEST_F(LayoutTest, LineHeightsTakeTheTallestFontPlusTheLineSpacing) {
  add("a", 10);
  add("b", 20);
  add("\n", 10);
  add("c", 8);
  Rect r = used(kFloatMax, 0);
  // 25 (the 20-point font) + 10 (the 8-point one's 1.25 em).
  EXPECT_DOUBLE_EQ(r.size.height, 35);
  EXPECT_DOUBLE_EQ(r.size.width, 5 + 10);
  paragraph([](ParagraphStyle* p) { p->setLineSpacing(3); });
  EXPECT_DOUBLE_EQ(used(kFloatMax, 0).size.height, 41);

  // A final line feed adds an empty line of its font's height.
  storage_->setAttributedString(nullptr);
  add("a\n", 10);
  EXPECT_DOUBLE_EQ(used(kFloatMax, 0).size.height, 25);
}

TEST_F(LayoutTest, IndentsAndAlignmentPlaceTheLines) {
  // 100 wide, no padding; 10-point "ab cd" is 25 wide.
  add("ab cd", 10);
  struct Case {
    void (*set)(ParagraphStyle*);
    double textX;
    std::vector<std::string> lines;
  } cases[] = {
      // A negative tail indent measures from the trailing margin: 100 - 80
      // leaves 20 for the text, so "cd" wraps.
      {[](ParagraphStyle* p) { p->setTailIndent(-80); }, 0, {"ab ", "cd"}},
      // A positive one from the leading margin: the lines end at 20.
      {[](ParagraphStyle* p) { p->setTailIndent(20); }, 0, {"ab ", "cd"}},
      {[](ParagraphStyle* p) { p->setTailIndent(30); }, 0, {"ab cd"}},
      {[](ParagraphStyle* p) { p->setFirstLineHeadIndent(10), p->setHeadIndent(10); }, 10, {"ab cd"}},
      {[](ParagraphStyle* p) { p->setAlignment(kTextAlignmentCenter); }, 37.5, {"ab cd"}},
      {[](ParagraphStyle* p) { p->setAlignment(kTextAlignmentRight); }, 75, {"ab cd"}},
  };
  for (const Case& c : cases) {
    paragraph([](ParagraphStyle*) {});
    paragraph(c.set);
    used(100, 0);
    EXPECT_EQ(lines(), c.lines);
    EXPECT_DOUBLE_EQ(manager_->lineFragments(container_).front().textX, c.textX);
  }
  // Truncating keeps the paragraph on one line, no wider than the space.
  paragraph([](ParagraphStyle* p) { p->setLineBreakMode(kLineBreakByTruncatingTail); });
  EXPECT_DOUBLE_EQ(used(20, 0).size.width, 20);
  EXPECT_EQ(lines().size(), 1u);
}

TEST_F(LayoutTest, DrawingRecordsEachRunOfALine) {
  clearTextDrawings();
  add("ab", 10);
  Attributes link;
  link.set(kFontAttributeName, Font::boldSystemFontOfSize(10));
  link.set(kUnderlineStyleAttributeName, objc::Number::withLong(kUnderlineStyleSingle));
  storage_->append(AttributedString::withUtf8("cd", link));
  used(100, 5);
  manager_->drawText(makeRect(0, 0, 100, 100), Point{10, 20}, container_);
  const std::vector<TextDrawing>& d = textDrawings();
  ASSERT_EQ(d.size(), 2u);
  EXPECT_STREQ(d[0].text.c_str(), "ab");
  EXPECT_EQ(d[0].rect, makeRect(15, 20, 10, 12.5));
  EXPECT_FALSE(d[0].underlined);
  EXPECT_STREQ(d[1].text.c_str(), "cd");
  EXPECT_DOUBLE_EQ(d[1].rect.origin.x, 25);
  EXPECT_DOUBLE_EQ(d[1].rect.size.width, 11);
  EXPECT_TRUE(d[1].font->isBold());
  EXPECT_TRUE(d[1].underlined);
  clearTextDrawings();
}

TEST(AttributedStringTest, RunsSplitAndJoinByAttributes) {
  objc::AutoreleasePool pool;
  AttributedString* s = AttributedString::withUtf8("hello world");
  s->addAttribute(kUnderlineStyleAttributeName, objc::Number::withLong(1), Range{6, 5});
  EXPECT_EQ(s->runs(), (std::vector<Range>{{0, 6}, {6, 5}}));
  // An equal value over the rest joins the runs again.
  s->addAttribute(kUnderlineStyleAttributeName, objc::Number::withLong(1), Range{0, 6});
  EXPECT_EQ(s->runs(), (std::vector<Range>{{0, 11}}));
  s->addAttribute(kFontAttributeName, Font::systemFontOfSize(20), Range{2, 2});
  Range r;
  EXPECT_NE(s->attributeAt(kFontAttributeName, 3, &r), nullptr);
  EXPECT_EQ(r, (Range{2, 2}));
  EXPECT_EQ(s->attributeAt(kFontAttributeName, 11), nullptr);
  // Inserted text takes the attributes of the text it replaces.
  s->replaceCharacters(Range{2, 2}, objc::String::withUtf8("\xF0\x9F\x98\x80"));
  EXPECT_STREQ(s->string()->utf8(), "he\xF0\x9F\x98\x80o world");
  EXPECT_EQ(s->length(), 11u);
  s->attributesAt(2, &r);
  EXPECT_EQ(r, (Range{2, 2}));
}

// A window with one text field; the fixture types into it.
class FieldTest : public ::testing::Test, public TextFieldDelegate {
 protected:
  void SetUp() override {
    Application::reset();
    inject::mainDisplay(1440, 900, 1);
    window_ = new Window(makeRect(100, 100, 300, 100), kWindowStyleTitled);
    window_->setReleasedWhenClosed(false);
    field_ = new TextField(makeRect(10, 10, 200, 21));
    field_->setDelegate(this);
    window_->contentView()->addSubview(field_);
    window_->makeKeyAndOrderFront(nullptr);
  }
  void TearDown() override {
    window_->release();
    field_->release();
    Application::reset();
  }
  void controlTextDidChange(TextField*) override { changes.push_back(field_->stringValue()); }
  void controlTextDidEndEditing(TextField*) override { ++ended; }
  FieldEditor* edit(const char* text) {
    field_->setStringValue(text);
    EXPECT_TRUE(window_->makeFirstResponder(field_));
    auto* editor = dynamic_cast<FieldEditor*>(window_->firstResponder());
    EXPECT_NE(editor, nullptr);
    return editor;
  }
  void type(unsigned short code, const char* chars, uint64_t flags = 0) {
    inject::key(code, chars, flags);
    inject::handleQueued();
  }

  objc::AutoreleasePool pool_;
  Window* window_ = nullptr;
  TextField* field_ = nullptr;
  std::vector<std::string> changes;
  int ended = 0;
};

TEST_F(FieldTest, TheFieldEditorSelectsAndDeletesWholeSurrogatePairs) {
  // "a", U+1F600 (two UTF-16 units), "b".
  FieldEditor* e = edit(
      "a\xF0\x9F\x98\x80"
      "b");
  EXPECT_EQ(e->delegate(), field_);
  EXPECT_EQ(e->selectedRange(), (Range{0, 4}));
  type(124, "\xEF\x9C\x83");  // Right: to the end
  EXPECT_EQ(e->selectedRange(), (Range{4, 0}));
  type(123, "\xEF\x9C\x82");  // Left: before "b"
  EXPECT_EQ(e->selectedRange(), (Range{3, 0}));
  type(123, "\xEF\x9C\x82");  // Left: over the pair at once
  EXPECT_EQ(e->selectedRange(), (Range{1, 0}));
  type(124, "\xEF\x9C\x83", kModifierShift);
  EXPECT_EQ(e->selectedRange(), (Range{1, 2}));
  // A range that ends inside the pair widens to hold it whole.
  e->setSelectedRange(Range{2, 1});
  EXPECT_EQ(e->selectedRange(), (Range{1, 2}));
  e->setSelectedRange(Range{0, 2});
  EXPECT_EQ(e->selectedRange(), (Range{0, 3}));
  e->setSelectedRange(Range{3, 0});
  type(51, "\x7F");  // Delete: the whole pair
  EXPECT_STREQ(field_->stringValue(), "ab");
  EXPECT_EQ(e->selectedRange(), (Range{1, 0}));
  type(0, "\xC3\xA9");
  EXPECT_STREQ(field_->stringValue(),
               "a\xC3\xA9"
               "b");
  EXPECT_EQ(changes, (std::vector<std::string>{"ab",
                                               "a\xC3\xA9"
                                               "b"}));
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(window_->makeFirstResponder(nullptr));
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(e->delegate(), nullptr);
}

// Refuses digits; puts the text without line feeds in place of a text
// with them.
class StrippingFormatter : public Formatter {
 public:
  objc::String* stringForObjectValue(objc::Object* value) override { return dynamic_cast<objc::String*>(value); }
  bool getObjectValue(objc::Object** value, objc::String* string, objc::String**) override {
    *value = string;
    return true;
  }
  bool isPartialStringValid(objc::String** partial, Range* selection, objc::String* original, Range originalSelection,
                            objc::String**) override {
    calls.push_back(std::string((*partial)->utf8()) + "|" + original->utf8() + "|" +
                    std::to_string(selection->location) + "," + std::to_string(originalSelection.location) + "," +
                    std::to_string(originalSelection.length));
    std::string text = (*partial)->utf8();
    if (text.find_first_of("0123456789") != std::string::npos) return false;
    std::string stripped;
    for (char c : text)
      if (c != '\n') stripped += c;
    if (stripped == text) return true;
    *partial = objc::String::withUtf8(stripped.c_str());
    *selection = Range{(*partial)->utf16Length(), 0};
    return false;
  }
  std::vector<std::string> calls;
};

TEST_F(FieldTest, EveryEditPassesTheFormatterBeforeTheTextChanges) {
  auto* formatter = new StrippingFormatter;
  field_->setFormatter(formatter);
  FieldEditor* e = edit("ab");
  e->setSelectedRange(Range{2, 0});
  type(0, "x");
  EXPECT_STREQ(field_->stringValue(), "abx");
  type(18, "1");  // refused: nothing changes, no notice
  EXPECT_STREQ(field_->stringValue(), "abx");
  EXPECT_EQ(e->selectedRange(), (Range{3, 0}));
  e->setSelectedRange(Range{1, 0});
  e->insertText("\nz\n");  // replaced by the formatter's text, caret at its end
  EXPECT_STREQ(field_->stringValue(), "azbx");
  EXPECT_EQ(e->selectedRange(), (Range{4, 0}));
  EXPECT_EQ(changes, (std::vector<std::string>{"abx", "azbx"}));
  EXPECT_EQ(formatter->calls, (std::vector<std::string>{"abx|ab|3,2,0", "abx1|abx|4,3,0", "a\nz\nbx|abx|4,1,0"}));
  formatter->release();
}

TEST_F(FieldTest, ReturnEndsTheEditAndSendsTheAction) {
  int actions = 0;
  Sel act = selector("fieldAction:");
  window_->contentView()->setActionHandler(act, [&](objc::Object*) { ++actions; });
  field_->setAction(act);
  edit("ab");
  type(36, "\r");
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(actions, 1);
  // A field taken out of its window while it is edited ends the edit
  // (the field editor leaves with it) and keeps nothing dangling.
  FieldEditor* editor = window_->fieldEditor(false);
  ASSERT_EQ(window_->firstResponder(), editor);
  field_->removeFromSuperview();
  EXPECT_EQ(window_->firstResponder(), window_);
  EXPECT_EQ(editor->superview(), nullptr);
  EXPECT_EQ(editor->delegate(), nullptr);
  EXPECT_EQ(ended, 2);
}

TEST_F(FieldTest, ReturnInAFieldWhoseActionClosesItsWindowWhichWasItsOnlyOwner) {
  // Released when closed: the window's own reference is the only one.
  auto* w = new Window(makeRect(100, 300, 300, 100), kWindowStyleTitled);
  auto* field = new TextField(makeRect(10, 10, 200, 21));
  w->contentView()->addSubview(field);
  field->release();
  Sel act = selector("closeWindow:");
  w->contentView()->setActionHandler(act, [w](objc::Object*) { w->close(); });
  field->setAction(act);
  field->setStringValue("done");
  w->makeKeyAndOrderFront(nullptr);
  ASSERT_TRUE(w->makeFirstResponder(field));
  const long number = w->windowNumber();
  type(36, "\r");
  EXPECT_EQ(Application::shared().windowWithNumber(number), nullptr);
  EXPECT_EQ(Application::shared().keyWindow(), window_);
}

class LinkDelegate : public TextViewDelegate {
 public:
  bool clickedOnLink(TextView*, objc::Object* link, size_t index) override {
    clicks.push_back(std::string(static_cast<objc::String*>(link)->utf8()) + "@" + std::to_string(index));
    return true;
  }
  std::vector<std::string> clicks;
};

TEST_F(FieldTest, ClickingALinkAsksTheTextViewsDelegate) {
  auto* view = new TextView(makeRect(0, 0, 300, 100));
  window_->contentView()->addSubview(view);
  view->setString("click here");
  view->textStorage()->addAttribute(kLinkAttributeName, objc::String::withUtf8("https://example.com/"), Range{6, 4});
  view->setEditable(false);
  LinkDelegate d;
  view->setDelegate(&d);
  // 13-point text, 6.5 points a character after 5 of padding: "h" spans
  // 44 to 50.5.  The view is flipped: 5 from its top is 95 in the window.
  inject::click(window_, {45, 95});
  inject::handleQueued();
  inject::click(window_, {30, 95});
  inject::handleQueued();
  EXPECT_EQ(d.clicks, (std::vector<std::string>{"https://example.com/@6"}));
  EXPECT_EQ(view->selectedRange(), (Range{3, 0}));
  view->release();
}

}  // namespace
}  // namespace appkit
