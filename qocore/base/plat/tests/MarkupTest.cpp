#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/plat/Markup.h"
#include "testing/LogCapture.h"

namespace {

using plat::DString;
using plat::Markup::Style;
using testing::ContainsRegex;
using testing::ElementsAre;

std::string describeStyle(const Style& s) {
  std::string out;
  if (s.flags) out += " f" + std::to_string(s.flags);
  if (s.size != 120) out += " s" + std::to_string(s.size);
  if (s.weight != 400) out += " w" + std::to_string(s.weight);
  if (s.color) out += std::string(" c=") + s.color.get();
  if (s.background) out += std::string(" bg=") + s.background.get();
  return out;
}

// Writes each call as one line: P(alignment,left,right), T[style]"text",
// L[style]link"text", E(last) and end.
class Recorder : public plat::Markup::Handler {
 public:
  void beginParagraph(int alignment, float left, float right) override {
    calls.push_back("P(" + std::to_string(alignment) + "," + num(left) + "," + num(right) + ")");
  }
  void endParagraph(bool last) override { calls.push_back(last ? "E(last)" : "E"); }
  void textRun(const Style& style, const char* text) override {
    calls.push_back("T[" + describeStyle(style) + "]\"" + text + "\"");
  }
  void linkRun(const Style& style, const char* link, const char* text) override {
    calls.push_back("L[" + describeStyle(style) + "]" + link + "\"" + text + "\"");
  }
  void end() override { calls.push_back("end"); }

  std::vector<std::string> calls;

 private:
  static std::string num(float f) {
    char buf[32];
    snprintf(buf, sizeof buf, "%g", static_cast<double>(f));
    return buf;
  }
};

std::vector<std::string> parsed(const char* markup) {
  Recorder recorder;
  EXPECT_TRUE(plat::Markup::ParserHtml::instance().parse(markup, &recorder)) << markup;
  return recorder.calls;
}

TEST(MarkupParseTest, ParagraphsRunsAndStyles) {
  struct Case {
    const char* markup;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"", {"end"}},
      {"a<br/>b", {"P(0,0,0)", "T[]\"a\n\"", "T[]\"b\"", "E(last)", "end"}},
      {"<br/>x", {"P(0,0,0)", "T[]\"\n\"", "T[]\"x\"", "E(last)", "end"}},
      {"x<div>one</div><div style=\"text-align:center; padding-left:2.5;padding-right:1;color:red\">two</div>",
       {"P(0,0,0)", "T[]\"x\"", "E", "P(0,0,0)", "T[]\"one\"", "E", "P(1,2.5,1)", "T[ c=red]\"two\"", "E(last)",
        "end"}},
      {"<div style=\"text-align:right\"></div>", {"P(2,0,0)", "E(last)", "end"}},
      {"<div style=\"text-align:justify\">j</div> tail",
       {"P(3,0,0)", "T[]\"j\"", "E", "P(0,0,0)", "T[]\" tail\"", "E(last)", "end"}},
      {"<i>a<b>b</b>c</i> <u>u</u>",
       {"P(0,0,0)", "T[ f1]\"a\"", "T[ f1 w700]\"b\"", "T[ f1]\"c\"", "T[]\" \"", "T[ f2]\"u\"", "E(last)", "end"}},
      {"<span style=\"font-size:150%\">x</span><span style=\"font-size: 10 \">y</span>",
       {"P(0,0,0)", "T[ s180]\"x\"", "T[ s10]\"y\"", "E(last)", "end"}},
      {"<span style=\"font-size:big;font-weight:bold;text-decoration:underline\">x</span>",
       {"P(0,0,0)", "T[ f2 w0]\"x\"", "E(last)", "end"}},
      {"<i><span style=\"font-style:normal\">x</span>y</i>", {"P(0,0,0)", "T[]\"x\"", "T[ f1]\"y\"", "E(last)", "end"}},
      {"<span style=\"background-color:#ff0000;color:blue\">x</span>",
       {"P(0,0,0)", "T[ c=blue bg=#ff0000]\"x\"", "E(last)", "end"}},
      {"<b><span style=\"color:red\">r</span> more</b>",
       {"P(0,0,0)", "T[ w700 c=red]\"r\"", "T[ w700]\" more\"", "E(last)", "end"}},
      {"<font color=\"green\" size=\"144\">g</font><font size=\"x\">z</font>",
       {"P(0,0,0)", "T[ s144 c=green]\"g\"", "T[ s0]\"z\"", "E(last)", "end"}},
      {"x<ul><li>one</li><li>two</li></ul>",
       {"P(0,0,0)", "T[]\"x\n\xe2\x80\xa2 \"", "T[]\"one\n\xe2\x80\xa2 \"", "T[]\"two\"", "E(last)", "end"}},
      {"<a href=\"http://h/?a=1&amp;b=2\">go</a> on",
       {"P(0,0,0)", "L[ f4]http://h/?a=1&b=2\"go\"", "T[]\" on\"", "E(last)", "end"}},
      // The link bit belongs to the a element's own texts.
      {"<a href=\"u\"><b>t</b></a>", {"P(0,0,0)", "T[ w700]\"t\"", "E(last)", "end"}},
      {"<DIV><B>up</B></DIV>", {"P(0,0,0)", "T[ w700]\"up\"", "E(last)", "end"}},
      {"a &lt;&amp;&gt; <!-- note -->b", {"P(0,0,0)", "T[]\"a <&> b\"", "E(last)", "end"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.markup);
    EXPECT_EQ(parsed(c.markup), c.calls);
  }
}

TEST(MarkupParseTest, InvalidMarkupIsRefusedWithItsText) {
  struct Case {
    const char* markup;
    const char* message;  // a regular expression
  };
  const std::vector<Case> cases = {
      {"<a>x</a>", "^Invalid hyperlink spec!$"},
      {"<img src=\"x\"/>", "^Unexpected tag img$"},
      {"<font face=\"Arial\">x</font>", "^Unexpected attribute \\(face = Arial\\)$"},
      {"<b class=\"c\">x</b>", "^Unexpected attribute \\(class = c\\)$"},
      {"<![CDATA[x]]>", "^Unexpected node type 3$"},
      {"<b>unclosed", "^XML error [0-9]+:[0-9]+ .+"},
      {"a</i>b", "^XML error [0-9]+:[0-9]+ .+"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.markup);
    plat::Markup::Recording recording;
    try {
      plat::Markup::ParserHtml::instance().parseInto(c.markup, recording);
      ADD_FAILURE() << "accepted";
    } catch (const plat::Exception& e) {
      EXPECT_THAT(e.str(), ContainsRegex(c.message));
      EXPECT_STREQ(e.typeName(), "");
    }
  }
}

TEST(MarkupParseTest, ParseLogsInvalidMarkupAndReturnsFalse) {
  yarl_test::LogCapture log("MarkupParser:capture:0");
  Recorder recorder;
  EXPECT_FALSE(plat::Markup::ParserHtml::instance().parse("<b>unclosed", &recorder));
  EXPECT_TRUE(recorder.calls.empty());
  auto records = log.from("MarkupParser");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, 0);
  EXPECT_THAT(records[0].text,
              ContainsRegex("^Invalid markup \\(XML error [0-9]+:[0-9]+ [^)]+\\): ### <b>unclosed ###$"));
  // Without a handler only the verdict counts.
  EXPECT_TRUE(plat::Markup::ParserHtml::instance().parse("<b>ok</b>", nullptr));
}

TEST(MarkupParseTest, StripperKeepsTextAndLineFeeds) {
  plat::Markup::Stripper stripped("<div>a<br/>b</div><div><a href=\"x\">link</a></div>");
  EXPECT_STREQ(stripped.c_str(), "a\nblink");
  // A link run without text stands for its target.
  stripped.linkRun(Style(), "http://t/", "");
  EXPECT_STREQ(stripped.c_str(), "a\nblinkhttp://t/");
  EXPECT_STREQ(plat::Markup::Stripper(nullptr).c_str(), "");
  yarl_test::LogCapture log("MarkupParser:capture:0");
  EXPECT_STREQ(plat::Markup::Stripper("<p>x</p>").c_str(), "");
}

// A style written by the builders reads back as the same style.
TEST(MarkupBuildTest, StylesRoundTrip) {
  struct Case {
    uint32_t flags;
    int32_t size;
    int32_t weight;
    const char* color;
    const char* background;
    int32_t sizeBack;
  };
  const std::vector<Case> cases = {
      {0, 120, 700, nullptr, nullptr, 120},  {1, 150, 400, "red", nullptr, 150}, {2, 120, 400, nullptr, "#00ff00", 120},
      {3, 150, 700, "#123456", "navy", 150}, {0, 3, 400, "blue", nullptr, 4},  // the percentage loses precision
  };
  for (const Case& c : cases) {
    Style style;
    style.flags = c.flags;
    style.size = c.size;
    style.weight = c.weight;
    style.color = c.color;
    style.background = c.background;
    DString markup;
    plat::Markup::escapedSpan(markup, "a<b", style);
    SCOPED_TRACE(markup.c_str());
    plat::Markup::Recording recording;
    plat::Markup::ParserHtml::instance().parseInto(markup.c_str(), recording);
    ASSERT_EQ(recording.size(), 1u);
    ASSERT_EQ(recording[0].runs.size(), 1u);
    const plat::Markup::Run& run = recording[0].runs[0];
    EXPECT_STREQ(run.text.c_str(), "a<b");
    EXPECT_EQ(run.style.flags, c.flags);
    EXPECT_EQ(run.style.size, c.sizeBack);
    EXPECT_EQ(run.style.weight, c.weight);
    EXPECT_STREQ(run.style.color.get(), c.color);
    EXPECT_STREQ(run.style.background.get(), c.background);
  }
}

TEST(MarkupBuildTest, BuildersWriteTheirMarkup) {
  Style heavy;
  heavy.weight = 700;
  Style small;
  small.size = -120;
  small.flags = Style::kItalic | Style::kUnderline;
  struct Case {
    std::string built;
    const char* expected;
  };
  auto build = [](auto fn) {
    DString out("pre:");
    fn(out);
    return std::string(out.c_str());
  };
  using namespace plat::Markup;
  const std::vector<Case> cases = {
      {build([](DString& o) { coloredSpan(o, "t<", nullptr, 120); }), "pre:t<"},
      {build([](DString& o) { coloredSpan(o, "t", nullptr, 150); }),
       "pre:<span style=\"font-size:125%;font-weight:400;\">t</span>"},
      {build([](DString& o) { coloredSpanEscaped(o, "a&b", "red", 120); }),
       "pre:<span style=\"font-size:100%;font-weight:400;color:red;\">a&amp;b</span>"},
      {build([](DString& o) { bold(o, "x'y", nullptr, 120); }), "pre:<b>x&apos;y</b>"},
      {build([](DString& o) { bold(o, "x", "#010203", 120); }),
       "pre:<span style=\"font-size:100%;font-weight:400;color:#010203;\"><b>x</b></span>"},
      {build([&](DString& o) { span(o, "<i>", small); }),
       "pre:<span style=\"font-size:-100%;font-weight:400;font-style:italic;text-decoration:underline;\"><i></span>"},
      {build([&](DString& o) { span(o, "plain", Style()); }), "pre:plain"},
      {build([](DString& o) { appendEscaped(o, nullptr); }), "pre:"},
      {build([](DString& o) { appendEscaped(o, "\"q\" \xff"); }), "pre:&quot;q&quot; \xef\xbf\xbd"},
      {build([](DString& o) { div(o, 0, nullptr); }), "pre:<div style=\"text-align:left\">"},
      {build([](DString& o) { div(o, 1, nullptr); }), "pre:<div style=\"text-align:center\">"},
      {build([](DString& o) { div(o, 2, nullptr); }), "pre:<div style=\"text-align:right\">"},
      {build([&](DString& o) { div(o, 9, &heavy); }),
       "pre:<div style=\"text-align:justify;font-size:100%;font-weight:700;\">"},
      {build([](DString& o) { link(o, "go", "http://h/?a=1&b=2", nullptr); }),
       "pre:<a href=\"http://h/?a=1&amp;b=2\">go</a>"},
      {build([](DString& o) { link(o, nullptr, "u<", "red"); }), "pre:<a href=\"u&lt;\" style=\"color:red\">u&lt;</a>"},
      {build([&](DString& o) { styledLink(o, "s", "u", heavy); }),
       "pre:<a href=\"u\" style=\"font-size:100%;font-weight:700;\">s</a>"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.built, c.expected);
}

TEST(MarkupBuildTest, BuiltLinkParsesToALinkRun) {
  DString markup;
  plat::Markup::link(markup, "a&b", "http://h/?q=1&r=2", "red");
  EXPECT_THAT(parsed(markup.c_str()),
              ElementsAre("P(0,0,0)", "L[ f4 c=red]http://h/?q=1&r=2\"a&b\"", "E(last)", "end"));
}

TEST(MnemonicTest, MarkersAreRemovedAndTheFirstIsReturned) {
  struct Case {
    const char* text;
    const char* stripped;
    int32_t mnemonic;
    int position;  // -1: none
  };
  const std::vector<Case> cases = {
      {"Save &As", "Save As", 'A', 5},
      {"Fish && Chips", "Fish & Chips", 0, -1},
      {"&File &Edit", "File Edit", 'F', 0},
      {"End&", "End", 0, -1},
      {"&&&x", "&x", 'x', 1},
      {"&\xc3\x9c"
       "ber",
       "\xc3\x9c"
       "ber",
       0xdc, 0},
      {"", "", 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    char* position = text.data();
    EXPECT_EQ(plat::stripMnemonic(text.data(), &position), c.mnemonic);
    EXPECT_STREQ(text.c_str(), c.stripped);
    if (c.position < 0) {
      EXPECT_EQ(position, nullptr);
    } else {
      EXPECT_EQ(position, text.data() + c.position);
    }
    text = c.text;
    EXPECT_EQ(plat::stripMnemonic(text.data()), c.mnemonic);
  }
  char* position = reinterpret_cast<char*>(1);
  EXPECT_EQ(plat::stripMnemonic(nullptr, &position), 0);
  EXPECT_EQ(position, nullptr);
}

// Every character 10 units wide and 12 high; paddings count 2 units each.
class FixedWidthTarget : public plat::Markup::Layout::Target {
 public:
  using Rect = plat::Markup::Layout::Rect;
  void beginParagraph(int alignment, float, float) override { calls.push_back("begin " + std::to_string(alignment)); }
  void textRun(const Style&, const char* text) override { calls.push_back(std::string("text ") + text); }
  void linkRun(const Style&, const char* link, const char*) override { calls.push_back(std::string("link ") + link); }
  float unitSize() override { return 2; }
  int paragraphSpacing() override { return 5; }
  plat::Markup::Layout::Size measure(const Style&, const char* text, int length) override {
    ++measures;
    int chars = 0;
    for (int i = 0; i < length; ++i) chars += (static_cast<unsigned char>(text[i]) & 0xc0) != 0x80;
    return {10 * chars, 12};
  }
  void place(const Style&, const char* text, int length, const Rect& r, int line) override {
    char buf[128];
    snprintf(buf, sizeof buf, "'%.*s' %d,%d %dx%d line %d", length, text, r.x, r.y, r.width, r.height, line);
    calls.push_back(buf);
  }
  void endParagraph(int left, int right) override {
    calls.push_back("end " + std::to_string(left) + "," + std::to_string(right));
  }
  void end() override { calls.push_back("done"); }

  std::vector<std::string> calls;
  int measures = 0;
};

TEST(MarkupLayoutTest, FixedWidthTextBreaksAtWhiteSpaceThenBetweenCharacters) {
  FixedWidthTarget target;
  plat::Markup::Layout layout(target, 120);
  ASSERT_TRUE(plat::Markup::ParserHtml::instance().parse(
      "<div style=\"padding-left:5\">hello world foo</div><div style=\"text-align:right\">abcdefgh\xc3\xa9jklmno "
      "<a href=\"u\">u</a>!<br/>z</div>",
      &layout));
  EXPECT_THAT(
      target.calls,
      ElementsAre("begin 0", "text hello world foo", "'hello ' 10,0 60x12 line 0", "'world foo' 10,12 90x12 line 1",
                  "end 10,0", "begin 2", "text abcdefgh\xc3\xa9jklmno ", "'abcdefgh\xc3\xa9jkl' 0,29 120x12 line 2",
                  "'mno ' 0,41 40x12 line 3", "link u", "'u' 40,41 10x12 line 3", "text !\n", "'!' 50,41 10x12 line 3",
                  "text z", "'z' 0,53 10x12 line 4", "end 0,0", "done"));
  EXPECT_EQ(layout.paragraphCount(), 2);
  EXPECT_EQ(layout.lineCount(), 5);
  EXPECT_EQ(layout.extent().width, 120);
  EXPECT_EQ(layout.extent().height, 65);
  EXPECT_DOUBLE_EQ(layout.averageCharWidth(), 10.0);
}

TEST(MarkupLayoutTest, NoWidthLimitKeepsEachLineWhole) {
  FixedWidthTarget target;
  plat::Markup::Layout layout(target, 0);
  ASSERT_TRUE(plat::Markup::ParserHtml::instance().parse("one two three<br/>four", &layout));
  EXPECT_THAT(target.calls, ElementsAre("begin 0", "text one two three\n", "'one two three' 0,0 130x12 line 0",
                                        "text four", "'four' 0,12 40x12 line 1", "end 0,0", "done"));
  // A link run without text lays out its target.
  target.calls.clear();
  layout.linkRun(Style(), "http://t/", "");
  EXPECT_THAT(target.calls, ElementsAre("link http://t/", "'http://t/' 40,12 90x12 line 1"));
}

}  // namespace
