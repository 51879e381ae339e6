#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "qocore/base/xml/Node.h"
#include "qocore/base/xml/Parser.h"
#include "qocore/base/xml/tests/TreeDump.h"
#include "testing/FileFixtures.h"

namespace xml {
namespace {

using testing::dump;
using testing::OptionsGuard;

const char kDocument[] =
    "<?xml version=\"1.0\"?><doc a=\"1\" b><item>one</item><empty/>"
    "<mixed>t1<x/>t2<![CDATA[c<d>]]><!--n--></mixed>"
    "<q v=\"&quot;&amp;&lt;&gt;&apos;\">&lt;&amp;</q></doc>";

TEST(WriterTest, FormattedOutputIsExact) {
  OptionsGuard guard;
  Node n = parseText(kDocument);
  EXPECT_STREQ(n.createString(true).get(),
               "<?xml version=\"1.0\"?>\n"
               "<doc a=\"1\" b>\n"
               "\t<item>one</item>\n"
               "\t<empty />\n"
               "\t<mixed>\n"
               "\t\tt1\n"
               "\t\t<x />\n"
               "\t\tt2\n"
               "\t\t<![CDATA[c<d>]]>\n"
               "\t\t<!--n-->\n"
               "\t</mixed>\n"
               "\t<q v=\"&quot;&amp;&lt;&gt;&apos;\">&lt;&amp;</q>\n"
               "</doc>\n");
  EXPECT_STREQ(n.createString(false).get(),
               "<?xml version=\"1.0\"?><doc a=\"1\" b><item>one</item><empty />"
               "<mixed>t1<x />t2<![CDATA[c<d>]]><!--n--></mixed>"
               "<q v=\"&quot;&amp;&lt;&gt;&apos;\">&lt;&amp;</q></doc>");
  // An unnamed root writes its content only.
  EXPECT_STREQ(parseText("<a/><b>x</b>").createString(true).get(), "<a />\n<b>x</b>\n");
}

TEST(WriterTest, WriteThenParseKeepsTreeAndOrder) {
  OptionsGuard guard;
  Node built = Node::createTop("root");
  ASSERT_TRUE(built.addAttribute("q", "\"'<&>"));
  ASSERT_TRUE(built.addText("lead & <text>"));
  Node c = built.addChild("child");
  ASSERT_TRUE(c.addAttribute("flag", nullptr));
  ASSERT_TRUE(c.addText("inner"));
  ASSERT_TRUE(built.addClear("raw <x>", ClearKind::CData));
  ASSERT_TRUE(built.addText("middle"));
  ASSERT_TRUE(built.addChild("later").addChild("deep").addText("\xC3\xA9t\xC3\xA9"));
  ASSERT_TRUE(built.addClear(" note ", ClearKind::Comment));
  const std::string expected = dump(built);

  for (bool formatted : {true, false}) {
    plat::CharArray text = built.createString(formatted);
    ParseResults r;
    Node back = parseText(text.get(), nullptr, &r);
    EXPECT_EQ(r.error, kNoError) << text.get();
    EXPECT_EQ(dump(back), expected) << text.get();
  }
}

// Texts are stored as given and escaped on writing, the same way in an
// attribute as in a text, stepping through them one character at a time
// in the encoding in force: a byte inside a character of several bytes is
// never taken for markup, even when it is one.
TEST(WriterTest, EscapingFollowsEncodingInTextsAndAttributes) {
  struct Case {
    int encoding;
    std::string in;
    std::string out;
  };
  const std::string longRun = "a run of plain text well past sixteen bytes";
  const Case cases[] = {
      {kUtf8, "plain", "plain"},
      {kUtf8, "a&b<c>d\"e'f", "a&amp;b&lt;c&gt;d&quot;e&apos;f"},
      {kUtf8, "&<>\"'", "&amp;&lt;&gt;&quot;&apos;"},
      {kUtf8, "'" + longRun + "&" + longRun + "'", "&apos;" + longRun + "&amp;" + longRun + "&apos;"},
      {kUtf8, std::string(3000, '<') + "x",
       [] {
         std::string s;
         for (int i = 0; i < 3000; ++i) s += "&lt;";
         return s + "x";
       }()},
      {kUtf8, "caf\xC3\xA9 <\xE2\x82\xAC>", "caf\xC3\xA9 &lt;\xE2\x82\xAC&gt;"},
      {kUtf8, "\xC3<&", "\xC3<&amp;"},          // a lead byte takes the next byte with it
      {kUtf8, "\x81<", "\x81&lt;"},             // a continuation byte stands alone
      {kUtf8, "x&\xE2\x82", "x&amp;\xE2\x82"},  // a character cut short by the end
      {kShiftJis, "\x81<\x82\xA0>", "\x81<\x82\xA0&gt;"},
      {kSingleByte, "\x81<\xC3'", "\x81&lt;\xC3&apos;"},
      {kGbk, "\xB0\xA1&\xB0\"", "\xB0\xA1&amp;\xB0\""},
      {kBig5, "\xA4\x40\"\xFE", "\xA4\x40&quot;\xFE"},
  };
  OptionsGuard guard;
  for (const Case& c : cases) {
    setGlobalOptions(c.encoding, true, true, true);
    Node n = Node::createTop("e");
    ASSERT_TRUE(n.addAttribute("a", c.in.c_str()));
    ASSERT_TRUE(n.addText(c.in.c_str()));
    const std::string expected = "<e a=\"" + c.out + "\">" + c.out + "</e>";
    EXPECT_EQ(n.createString(false).get(), expected) << c.encoding << " " << c.in;
    EXPECT_EQ(n.createString(true).get(), expected + "\n") << c.encoding << " " << c.in;
  }
}

// Writing and parsing again gives the same text, a declaration without
// data included.
TEST(WriterTest, RewritingIsStable) {
  OptionsGuard guard;
  for (const char* text : {"<a><?pi?><b/></a>", "<?pi?><a x=\"1\"/>", "<a><?pi x?></a>"}) {
    const plat::CharArray once = parseText(text).createString(false);
    const plat::CharArray twice = parseText(once.get()).createString(false);
    EXPECT_STREQ(twice.get(), once.get()) << text;
    EXPECT_EQ(std::string(once.get()).find("??"), std::string::npos) << once.get();
  }
}

// Trees built through the interface may nest far deeper than a parse
// allows; writing and copying them must not depend on the stack's size.
TEST(WriterTest, TreesDeeperThanAnyParseWriteAndCopy) {
  constexpr int kLevels = 500000;
  Node top = Node::createTop("d");
  Node n = top;
  for (int i = 1; i < kLevels; ++i) n = n.addChild("d");
  ASSERT_TRUE(n.addText("x"));
  n = Node();

  const plat::CharArray text = top.createString(false);
  const std::string expected = [&] {
    std::string s;
    for (int i = 0; i < kLevels; ++i) s += "<d>";
    s += "x";
    for (int i = 0; i < kLevels; ++i) s += "</d>";
    return s;
  }();
  EXPECT_TRUE(text.get() == expected) << "written text differs";

  const Node copy = top.deepCopy();
  EXPECT_TRUE(copy.parent().isEmpty());
  top = Node();
  EXPECT_TRUE(copy.createString(false).get() == expected) << "copy differs";
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WriteToFileTest : public ::testing::Test {
 protected:
  yarl_test::TempDir dir_;
  std::string path_ = dir_ / "out.xml";
  OptionsGuard guard_;
};

TEST_F(WriteToFileTest, HeaderFollowsEncodingAndDeclaration) {
  struct Case {
    int encoding;
    const char* text;
    const char* encodingName;
    const char* expected;
  };
  const Case cases[] = {
      {kUtf8, "<a/>", "ignored", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a />\n"},
      {kUtf8, "<?xml version=\"1.0\"?><a/>", nullptr, "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<a />\n"},
      {kShiftJis, "<a/>", "ignored", "<?xml version=\"1.0\" encoding=\"SHIFT-JIS\"?>\n<a />\n"},
      {kGbk, "<a/>", "GBK", "<?xml version=\"1.0\" encoding=\"GBK\"?>\n<a />\n"},
      {kSingleByte, "<a/>", nullptr, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a />\n"},
      {kSingleByte, "<?xml version=\"1.0\"?><a/>", nullptr, "<?xml version=\"1.0\"?>\n<a />\n"},
  };
  for (const Case& c : cases) {
    setGlobalOptions(c.encoding, true, true, true);
    Node n = parseText(c.text);
    EXPECT_EQ(n.writeToFile(path_.c_str(), true, c.encodingName), kNoError);
    EXPECT_EQ(readAll(path_), c.expected) << c.encoding << " " << c.text;
  }

  // An unnamed root whose first item is a declaration begins with one.
  setGlobalOptions(kSingleByte, true, true, true);
  Node root = Node::createTop(nullptr);
  ASSERT_TRUE(root.addChild("xml", true).addAttribute("version", "1.0"));
  root.addChild("a");
  EXPECT_EQ(root.writeToFile(path_.c_str(), false), kNoError);
  EXPECT_EQ(readAll(path_), "<?xml version=\"1.0\"?><a />");
}

TEST_F(WriteToFileTest, FailuresHaveTheirCodes) {
  Node n = parseText("<a/>");
  EXPECT_EQ(n.writeToFile((dir_ / "missing/out.xml").c_str()), kCannotOpenForWriting);
  EXPECT_EQ(n.writeToFile(dir_.c_str()), kCannotOpenForWriting);
  // A device that accepts the open and refuses every write.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(n.writeToFile("/dev/full"), kCannotWrite);
  }
}

}  // namespace
}  // namespace xml
