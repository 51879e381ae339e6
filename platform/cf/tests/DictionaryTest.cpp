#include <gtest/gtest.h>

#include "platform/cf/Dictionary.h"
#include "qocore/base/plat/mac/CFUtil.h"

namespace {

TEST(DictionaryTest, StringsAreReadOnlyFromStringValues) {
  cf::Dictionary dictionary;
  dictionary.set("Text", cf::Value::string("héllo"));
  dictionary.set("Number", cf::Value::number(8080));
  dictionary.set("Flag", cf::Value::boolean(true));
  dictionary.set("List", cf::Value::array({cf::Value::string("a"), cf::Value::number(1)}));
  dictionary.set("Replaced", cf::Value::number(1));
  dictionary.set("Replaced", cf::Value::string("second"));

  EXPECT_STREQ(plat::cfDictGetString(dictionary, "Text").get(), "héllo");
  EXPECT_STREQ(plat::cfDictGetString(dictionary, "Replaced").get(), "second");
  for (const char* key : {"Number", "Flag", "List", "Missing"}) {
    plat::CharArray text = plat::cfDictGetString(dictionary, key);
    ASSERT_TRUE(text) << key;
    EXPECT_STREQ(text.get(), "") << key;
  }
  EXPECT_EQ(dictionary.get("Number")->numberValue(), 8080);
  EXPECT_EQ(dictionary.get("Text")->numberValue(), 0);
  EXPECT_TRUE(dictionary.get("Flag")->booleanValue());
  EXPECT_FALSE(dictionary.get("Number")->booleanValue());
  ASSERT_EQ(dictionary.get("List")->arrayValue().size(), 2u);
  EXPECT_STREQ(dictionary.get("List")->arrayValue()[0].stringValue(), "a");
  EXPECT_TRUE(dictionary.get("Text")->arrayValue().empty());
  EXPECT_EQ(dictionary.get("Missing"), nullptr);
}

}  // namespace
