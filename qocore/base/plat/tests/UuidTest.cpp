#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Uuid.h"

namespace plat {
namespace {

constexpr const char* kDashed = "f81d4fae-7dec-11d0-a765-00a0c91e6bf6";
constexpr const char* kBare = "f81d4fae7dec11d0a76500a0c91e6bf6";
constexpr const char* kZero = "00000000-0000-0000-0000-000000000000";

TEST(UuidTest, ParsesTextForms) {
  const struct {
    const char* text;
    bool ok;
    const char* dashed;  // when ok
  } cases[] = {
      {kDashed, true, kDashed},
      {kBare, true, kDashed},
      {"F81D4FAE-7DEC-11D0-A765-00A0C91E6BF6", true, kDashed},
      {"f8-1d4fae7dec11d0a76500a0c91e6b-f6", true, kDashed},  // dashes between other pairs
      {"-f81d4fae7dec11d0a76500a0c91e6bf6", true, kDashed},
      {"", true, kZero},
      {nullptr, true, kZero},
      {"f81d4fae7dec11d0a76500a0c91e6bf", false, nullptr},    // 31 digits
      {"f81d4fae7dec11d0a76500a0c91e6bf60", false, nullptr},  // 33 digits
      {"f81d4fae7dec11d0a76500a0c91e6bfg", false, nullptr},   // bad hex
      {"f-81d4fae7dec11d0a76500a0c91e6bf6", false, nullptr},  // dash inside a pair
      {"f81d4fae--7dec11d0a76500a0c91e6bf6", false, nullptr},
      {"f81d4fae7dec11d0a76500a0c91e6bf6-", false, nullptr},
      {"f81d4fae7dec11d0a76500a0c91e6bf6 ", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    Uuid id;
    ASSERT_EQ(Uuid::tryParse(id, c.text), c.ok);
    if (c.ok) {
      EXPECT_STREQ(id.toString().get(), c.dashed);
      EXPECT_EQ(Uuid::parse(c.text), id);
    } else {
      try {
        Uuid::parse(c.text);
        ADD_FAILURE() << "no exception";
      } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.str()), "Invalid Uuid '" + std::string(c.text) + "'");
      }
    }
  }
}

TEST(UuidTest, FormatsWithAndWithoutDashes) {
  Uuid id = Uuid::parse(kDashed);
  EXPECT_STREQ(id.toString(true).get(), kDashed);
  EXPECT_STREQ(id.toString(false).get(), kBare);
  EXPECT_STREQ(Uuid::toString(id.bytes, false).get(), kBare);
}

TEST(UuidSetTest, ListRoundTripsInByteOrder) {
  // The first byte decides, whatever the rest holds.
  const char* high = "01000000-0000-0000-0000-000000000000";
  const char* low = "00ffffff-ffff-ffff-ffff-ffffffffffff";
  std::string list = std::string(high) + ",," + low + "," + high + ",";
  UuidSet set = uuidSetFromList(list.c_str());
  ASSERT_EQ(set.size(), 2u);
  EXPECT_EQ(std::string(uuidSetToString(set).get()), std::string(low) + "," + high);
}

TEST(UuidSetTest, EmptyInputs) {
  EXPECT_TRUE(uuidSetFromList(nullptr).empty());
  EXPECT_TRUE(uuidSetFromList(",,").empty());
  EXPECT_STREQ(uuidSetToString(UuidSet()).get(), "");
}

TEST(UuidSetTest, BadPieceThrowsNamingIt) {
  std::string list = std::string(kDashed) + ",nope";
  try {
    uuidSetFromList(list.c_str());
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Invalid Uuid 'nope'");
  }
}

TEST(UuidSetTest, FromStrings) {
  std::vector<std::string> strings = {kBare, kZero, kDashed};
  UuidSet set = uuidSetFromStrings(strings);
  EXPECT_EQ(std::string(uuidSetToString(set).get()), std::string(kZero) + "," + kDashed);
  EXPECT_THROW(uuidSetFromStrings(std::vector<std::string>{"x"}), Exception);
}

}  // namespace
}  // namespace plat
