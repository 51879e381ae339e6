#include <gtest/gtest.h>

#include "qocore/base/xml/TextBuffer.h"

namespace xml {
namespace {

TEST(TextBufferTest, EscapesMarkupAndRepairsUtf8) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"a&b<c>d\"e'f", "a&amp;b&lt;c&gt;d&quot;e&apos;f"},
      {"\xC3\xA9\xE2\x82\xAC&", "\xC3\xA9\xE2\x82\xAC&amp;"},
      {"\xC3(<", "\xEF\xBF\xBD(&lt;"},  // a cut sequence becomes U+FFFD
      {"\xFF", "\xEF\xBF\xBD"},
      {"", ""},
      {nullptr, ""},
  };
  TextBuffer b;
  for (const Case& c : cases) EXPECT_STREQ(b.setEscaped(c.in), c.out) << (c.in ? c.in : "(null)");
}

TEST(TextBufferTest, ReusesBlockWhileCapacityExceedsLength) {
  TextBuffer b;
  const char* first = b.setEscaped("abc");
  EXPECT_EQ(b.capacity(), 4);
  EXPECT_EQ(b.setEscaped("ab"), first);
  EXPECT_EQ(b.setEscaped("xyz"), first);
  EXPECT_EQ(b.capacity(), 4);
  b.setEscaped("abcd");  // length 4 no longer fits below the capacity
  EXPECT_EQ(b.capacity(), 5);
  EXPECT_STREQ(b.text(), "abcd");
  b.setEscaped("&");  // escaped length 5: replaced again
  EXPECT_EQ(b.capacity(), 6);
  EXPECT_STREQ(b.text(), "&amp;");
  b.clear();
  EXPECT_EQ(b.text(), nullptr);
  EXPECT_EQ(b.capacity(), 0);
}

}  // namespace
}  // namespace xml
