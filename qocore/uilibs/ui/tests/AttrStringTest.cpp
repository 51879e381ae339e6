#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/TextSystem.h"
#include "platform/objc/Number.h"
#include "qocore/uilibs/ui/mac/AttrString.h"
#include "qocore/uilibs/ui/mac/Fonts.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"
#include "qocore/uilibs/ui/mac/TextMeasurer.h"

namespace ui {
namespace {

class AttrStringTest : public ::testing::Test {
 protected:
  objc::AutoreleasePool pool_;
};

// A string's text; a colour's system name, or else its "#rrggbb".
std::string str(objc::Object* o) {
  if (auto* s = dynamic_cast<objc::String*>(o)) return s->utf8();
  if (auto* c = dynamic_cast<appkit::Color*>(o)) {
    for (const char* name : {"contentBg", "contentText", "disabledText", "buttonBg", "buttonText", "selectedBg",
                             "selectedText", "inactiveBg", "linkText"})
      if (systemColour(name) == c) return name;
    plat::Rgb rgb = rgbFromColour(c);
    char hex[8];
    snprintf(hex, sizeof hex, "#%02x%02x%02x", rgb.red & 0xff, rgb.green & 0xff, rgb.blue & 0xff);
    return hex;
  }
  return o ? "?" : "-";
}

// One line per run: its text, font (size, weight, italic), colour,
// underline, link, cursor, tool tip and paragraph (alignment, head and
// tail indents).
std::vector<std::string> describe(const appkit::AttributedString* s) {
  std::vector<std::string> out;
  for (appkit::Range r : s->runs()) {
    const appkit::Attributes& a = s->attributesAt(r.location);
    char font[64] = "-";
    if (auto* f = dynamic_cast<appkit::Font*>(a.get(appkit::kFontAttributeName)))
      snprintf(font, sizeof font, "%g/%g%s", f->pointSize(), f->weight(), f->isItalic() ? "i" : "");
    auto* u = dynamic_cast<objc::Number*>(a.get(appkit::kUnderlineStyleAttributeName));
    auto* cursor = dynamic_cast<objc::Number*>(a.get(appkit::kCursorAttributeName));
    char para[64] = "-";
    if (auto* p = dynamic_cast<appkit::ParagraphStyle*>(a.get(appkit::kParagraphStyleAttributeName)))
      snprintf(para, sizeof para, "%d,%g,%g,%g", p->alignment(), p->firstLineHeadIndent(), p->headIndent(),
               p->tailIndent());
    std::string text = s->substring(r)->string()->utf8();
    out.push_back(text + "|" + font + "|" + str(a.get(appkit::kForegroundColorAttributeName)) + "|" +
                  (u ? std::to_string(u->longValue()) : "-") + "|" + str(a.get(appkit::kLinkAttributeName)) + "|" +
                  (cursor ? std::to_string(cursor->longValue()) : "-") + "|" +
                  str(a.get(appkit::kToolTipAttributeName)) + "|" + para);
  }
  return out;
}

TEST_F(AttrStringTest, MarkupBecomesOneRunPerStyle) {
  AttrStringMarkup m(
      "<div style=\"padding-left:2;padding-right:1\">A <b>bold</b> <i>it</i> <u>u</u> "
      "<span style=\"color:red;font-size:150%\">big</span></div>"
      "<div style=\"text-align:center\"><a href=\"http://x/\">go</a></div>");
  // The first paragraph's pixel size is 13 x 180 / 120 = 19.5, rounded to
  // 20: indent 2 x 20, tail indent -(1 x 20) from the trailing margin.
  const char* p1 = "0,40,40,-20";
  const std::string contentText = "|contentText|-|-|-|-|";
  EXPECT_EQ(describe(m.get()), (std::vector<std::string>{
                                   std::string("A |13/0") + contentText + p1,
                                   std::string("bold|13/0.4") + contentText + p1,
                                   std::string(" |13/0") + contentText + p1,
                                   std::string("it|13/0i") + contentText + p1,
                                   std::string(" |13/0") + contentText + p1,
                                   std::string("u|13/0|contentText|1|-|-|-|") + p1,
                                   std::string(" |13/0") + contentText + p1,
                                   std::string("big|20/0|#ff0000|-|-|-|-|") + p1,
                                   // The paragraph's end in the last run's style, then a
                                   // half-height gap.
                                   "\n|20/0|#ff0000|-|-|-|-|-",
                                   "\n|10/0|-|-|-|-|-|-",
                                   // The last paragraph: centred, no line feed after it.
                                   "go|13/0|linkText|1|http://x/|2|go|2,0,0,-0",
                               }));
}

TEST_F(AttrStringTest, SingleParagraphAndBuildingRules) {
  AttrStringMarkup one("just <b>one</b>");
  EXPECT_STREQ(one.get()->string()->utf8(), "just one");
  AttrStringMarkup none(nullptr);
  EXPECT_EQ(none.length(), 0u);
  EXPECT_EQ(none.attributeAt0(appkit::kFontAttributeName), nullptr);

  // Absent text is no string.
  EXPECT_FALSE(AttrString(nullptr, true, 0));
  const char* text = "abc";
  EXPECT_STREQ(AttrString(text, text + 2, false, 0).get()->string()->utf8(), "ab");
  plat::Markup::Style style;
  EXPECT_FALSE(AttrString(nullptr, style, "contentText"));

  // A link's style: its font, but neither colour nor underline.
  style.flags = plat::Markup::Style::kLink | plat::Markup::Style::kUnderline;
  AttrString link("l", style, "contentText");
  EXPECT_NE(link.attributeAt0(appkit::kFontAttributeName), nullptr);
  EXPECT_EQ(link.attributeAt0(appkit::kForegroundColorAttributeName), nullptr);
  EXPECT_EQ(link.attributeAt0(appkit::kUnderlineStyleAttributeName), nullptr);

  // A style's own colour falls back to the given name, then to grey.
  style = plat::Markup::Style();
  style.color = "nosuch";
  EXPECT_EQ(str(AttrString("c", style, "contentText").attributeAt0(appkit::kForegroundColorAttributeName)),
            "contentText");
  EXPECT_EQ(str(AttrString("c", style, nullptr).attributeAt0(appkit::kForegroundColorAttributeName)), "#808080");
  style.color = plat::CharArray();
  EXPECT_EQ(AttrString("c", style, nullptr).attributeAt0(appkit::kForegroundColorAttributeName), nullptr);

  // Size 0 is the system font size; a missing tool tip is left out.
  AttrString s("text", true, 0);
  EXPECT_DOUBLE_EQ(static_cast<appkit::Font*>(s.attributeAt0(appkit::kFontAttributeName))->pointSize(), 13);
  s.setBold(0);
  EXPECT_TRUE(static_cast<appkit::Font*>(s.attributeAt0(appkit::kFontAttributeName))->isBold());
  s.setLink("http://y/", nullptr, "red");
  EXPECT_EQ(s.attributeAt0(appkit::kToolTipAttributeName), nullptr);
  EXPECT_EQ(str(s.attributeAt0(appkit::kForegroundColorAttributeName)), "#ff0000");
  s.setIndent(7);
  s.setLineSpacing(2);
  s.setAlignment(appkit::kTextAlignmentRight);
  appkit::ParagraphStyle* p = s.paragraphStyle();
  EXPECT_EQ(p->firstLineHeadIndent(), 7);
  EXPECT_EQ(p->headIndent(), 7);
  EXPECT_EQ(p->lineSpacing(), 2);
  EXPECT_EQ(p->alignment(), appkit::kTextAlignmentRight);
}

TEST(AttrStringDeathTest, BuildingFromAbsentTextIsAnAssertionFailure) {
  EXPECT_DEATH(AttrString(nullptr, nullptr, true, 0), "Assertion 's' failed");
  EXPECT_DEATH(AttrString(nullptr, nullptr, plat::Markup::Style(), nullptr), "Assertion 's' failed");
}

TEST(FontsTest, FontForStyleScalesAndWeighs) {
  objc::AutoreleasePool pool;
  plat::Markup::Style plain;
  appkit::Font* system = appkit::Font::systemFontOfSize(13);
  EXPECT_TRUE(fontForStyle(plain)->isEqual(*system));
  struct Case {
    int size;
    int weight;
    uint32_t flags;
    double points;
    double weightValue;
    bool italic;
  } cases[] = {
      {150, 400, 0, 16, 0, false},  // 13 x 150 / 120 = 16.25
      {120, 700, 0, 13, 0.4, false}, {120, 1000, 0, 13, 0.62, false},
      {120, 50, 0, 13, -0.8, false}, {120, 250, 0, 13, -0.4, false},  // (250 - 100) / 100 rounds to 2
      {180, 400, 1, 20, 0, true},                                     // 19.5 rounds away from zero
      {-150, 400, 0, 13, 0, false},                                   // a size of 0 or less is the system size
  };
  for (const Case& c : cases) {
    plat::Markup::Style s;
    s.size = c.size;
    s.weight = c.weight;
    s.flags = c.flags;
    appkit::Font* f = fontForStyle(s);
    EXPECT_DOUBLE_EQ(f->pointSize(), c.points) << c.size << " " << c.weight;
    EXPECT_DOUBLE_EQ(f->weight(), c.weightValue) << c.weight;
    EXPECT_EQ(f->isItalic(), c.italic);
  }
  EXPECT_EQ(fontPointSize(-150), -16);
}

TEST_F(AttrStringTest, MeasuringWrapsAndStacksLineHeights) {
  AttrStringMarkup m(
      "<div style=\"padding-left:2;padding-right:1\">A <b>bold</b> <i>it</i> <u>u</u> "
      "<span style=\"color:red;font-size:150%\">big</span></div>"
      "<div style=\"text-align:center\"><a href=\"http://x/\">go</a></div>");
  TextMeasurer measurer(appkit::kTypesetterLatestBehavior);
  // Unwrapped: 40 of indent, then 13 + 28.6 (bold, 10 % wider) + 6.5 + 13
  // + 6.5 + 6.5 + 6.5 + 30 (20-point "big"); lines of 25 (the 20-point
  // font), 12.5 (the 10-point gap) and 16.25.
  EXPECT_EQ(measurer.naturalWidth(m.get(), 0), 151);
  EXPECT_EQ(measurer.heightForWidth(m.get(), 1000, 0), 54);
  // 100 wide: 40 from the indent and 20 from the tail leave 40, so the
  // first paragraph breaks into "A ", "bold ", "it u ", "big".
  EXPECT_EQ(measurer.heightForWidth(m.get(), 100, 0), 103);

  // Three lines in 30 points less 2 x 5 padding: "ab ", "cd ", "ef".
  AttrString three("ab cd ef", true, 0);
  EXPECT_EQ(measurer.heightForWidth(three.get(), 30, 5), 49);
  EXPECT_EQ(measurer.naturalWidth(three.get(), 5), 62);  // 52 + 10
  EXPECT_EQ(measurer.widthForHeight(three.get(), 0, 0), 52);
  // Each line's trailing blank hangs: 5 + 13 + 5.
  EXPECT_EQ(measurer.sizeForWidth(three.get(), 30, 5), (appkit::Size{23, 48.75}));

  AttrString empty("", true, 0);
  EXPECT_EQ(measurer.measure(empty.get(), 5, 100, 100), (appkit::Size{}));
  EXPECT_EQ(measurer.sizeOfPlainText(objc::String::withUtf8("abcd"), appkit::Font::systemFontOfSize(10), 0),
            (appkit::Size{20 + 10, 12.5}));
  // The padding of an earlier measure does not stay.
  EXPECT_EQ(measurer.naturalWidth(three.get(), 0), 52);
  EXPECT_EQ(measurer.sizeOfPlainText(objc::String::withUtf8("abcd"), appkit::Font::systemFontOfSize(10), 0),
            (appkit::Size{20 + 10, 12.5}));

  plat::Markup::Style big;
  big.size = 240;
  EXPECT_EQ(measurer.lineHeight(appkit::Font::systemFontOfSize(0)), 16);
  EXPECT_EQ(measurer.lineHeightForStyle(big), 32);  // 26 x 1.25 = 32.5
  int other = -1;
  std::thread([&] { other = measurer.lineHeight(appkit::Font::systemFontOfSize(0)); }).join();
  EXPECT_EQ(other, 0);
}

TEST_F(AttrStringTest, StyledTextIsDrawnTruncatedAlignedAndPlaced) {
  appkit::clearTextDrawings();
  objc::String* colour = objc::String::withUtf8("ink");
  // Measured height 16.25 (16 in whole points): centred in 40 points
  // from y 20 is y 32; bold "hi" is 14.3 wide, centred in 100 from x 10.
  drawStyledText("<b>hi</b> there", colour, TextRect{10, 20, 110, 60}, 1, 1, 0);
  drawStyledText("wide text that does not fit", nullptr, TextRect{0, 0, 50, 100}, 2, 2, 20);
  const std::vector<appkit::TextDrawing>& d = appkit::textDrawings();
  ASSERT_EQ(d.size(), 3u);
  EXPECT_STREQ(d[0].text.c_str(), "hi");
  EXPECT_NEAR(d[0].rect.origin.x, 10 + (100 - 14.3 - 39) / 2, 1e-9);
  EXPECT_DOUBLE_EQ(d[0].rect.origin.y, 32);
  EXPECT_EQ(d[0].colour, colour);
  EXPECT_STREQ(d[1].text.c_str(), " there");
  // Right-aligned and truncated to one line of the width, at the bottom.
  EXPECT_STREQ(d[2].text.c_str(), "wide text that does not fit");
  EXPECT_DOUBLE_EQ(d[2].rect.origin.y, 80);
  EXPECT_EQ(str(d[2].colour), "contentText");
  appkit::clearTextDrawings();
}

}  // namespace
}  // namespace ui
