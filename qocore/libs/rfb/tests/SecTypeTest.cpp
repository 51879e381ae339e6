#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/libs/rfb/SecType.h"

namespace {

using rfb::SecTypeList;

TEST(SecTypeTest, EveryTypeHasItsNameKeySizeAndEncryption) {
  struct Case {
    uint32_t secType;
    const char* name;
    int keyBits;
    int encryptionBits;
    bool rOrNe;
  };
  // clang-format off
  const Case cases[] = {
      {1, "None", 0, 0, false},          {2, "YarlAuth", 0, 0, false},
      {5, "RA2_128", 128, 128, false},   {13, "RA2r_128", 128, 128, true},  {6, "RA2ne_128", 128, 0, true},
      {129, "RA2_256", 256, 256, false}, {133, "RA2r_256", 256, 256, true}, {130, "RA2ne_256", 256, 0, true},
      {11, "SSO_128", 128, 128, false},  {14, "SSOr_128", 128, 128, true},  {12, "SSOne_128", 128, 0, true},
      {131, "SSO_256", 256, 256, false}, {134, "SSOr_256", 256, 256, true}, {132, "SSOne_256", 256, 0, true},
      {7, "SSPI", 128, 128, false},      {8, "SSPIne", 128, 0, false},
      {9, "Ticket", 128, 128, false},    {10, "Ticketne", 128, 0, false},
      {3, "S3", 128, 128, false},        {4, "S3ne", 128, 0, false},
      {15, "KvmMgmt", 0, 0, false},      {30, "Ard", 0, 0, false},
      // Not in the table.
      {0, "[unknown secType 0]", 0, 0, false},     {16, "[unknown secType 16]", 0, 0, false},
      {17, "[unknown secType 17]", 0, 0, false},   {128, "[unknown secType 128]", 0, 0, false},
      {135, "[unknown secType 135]", 0, 0, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.secType);
    EXPECT_STREQ(rfb::secTypeName(c.secType).get(), c.name);
    EXPECT_EQ(rfb::secTypeKeyBits(c.secType), c.keyBits);
    EXPECT_EQ(rfb::secTypeEncryptionBits(c.secType), c.encryptionBits);
    EXPECT_EQ(rfb::isRorNeVariant(c.secType), c.rOrNe);
    if (c.name[0] == '[') continue;
    EXPECT_EQ(rfb::secTypeFromName(c.name), c.secType);
    std::string lower = c.name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(rfb::secTypeFromName(lower.c_str()), c.secType);
  }
  // Family names and other texts are no type names.
  for (const char* name : {"RA2", "SSOne", "", "None ", "[unknown secType 16]"}) {
    EXPECT_EQ(rfb::secTypeFromName(name), 0u) << name;
  }
  EXPECT_EQ(rfb::secTypeFromName(nullptr), 0u);
}

TEST(SecTypeTest, StrengthNamesFollowTheEncryptionAndAreLocalised) {
  struct Case {
    const char* locale;
    uint32_t secType;
    const char* text;
  };
  const Case cases[] = {
      {"en", rfb::kSecTypeNone, "no encryption"},
      {"en", rfb::kSecTypeKvmMgmt, "no encryption"},
      {"en", rfb::kSecTypeRA2ne_256, "no encryption"},
      {"en", rfb::kSecTypeRA2_128, "128-bit AES encryption"},
      {"en", rfb::kSecTypeSSOr_128, "128-bit AES encryption"},
      {"en", rfb::kSecTypeSSOr_256, "256-bit AES encryption"},
      {"en", 99, "no encryption"},
      {"de", rfb::kSecTypeRA2_256, "256-Bit-AES-Verschlüsselung"},
      {"fr", rfb::kSecTypeYarlAuth, "aucun chiffrement"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " " + std::to_string(c.secType));
    loc::LocaleSetter setter(c.locale);
    EXPECT_STREQ(rfb::secTypeStrengthName(c.secType), c.text);
  }
}

TEST(SecTypeTest, FamiliesAreMatchedIgnoringCase) {
  struct Case {
    const char* name;
    std::vector<uint32_t> types;
  };
  const Case cases[] = {
      {"RA2", {13, 133, 5, 129}},
      {"ra2r", {13, 133}},
      {"RA2NE", {6, 130}},
      {"SSO", {14, 134, 11, 131}},
      {"SSOr", {14, 134}},
      {"ssone", {12, 132}},
      {"RA2_128", {}},
      {"S3", {}},
      {"", {}},
      {"RA2 ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto family = rfb::secTypeFamily(c.name);
    EXPECT_EQ(std::vector<uint32_t>(family.begin(), family.end()), c.types);
  }
  EXPECT_TRUE(rfb::secTypeFamily(nullptr).empty());
}

TEST(SecTypeTest, ExplicitListsAppendTypesAndFamiliesByStrength) {
  struct Case {
    const char* text;
    SecTypeList types;
  };
  const Case cases[] = {
      {"RA2:256+", {133, 129}},
      {"RA2:128", {13, 5}},
      {"RA2:128+", {13, 133, 5, 129}},
      {"RA2", {13, 133, 5, 129}},
      {"SSOne", {12, 132}},
      {"sso:256", {134, 131}},
      {"RA2_128,None", {5, 1}},
      {"ra2r_256,Ticket,S3ne,Ard", {133, 9, 4, 30}},
      // Repeats are appended again.
      {"None,RA2:256,none", {1, 133, 129, 1}},
      // Unusable items are skipped.
      {"RA2:x,Foo:128", {}},
      {"RA2:", {}},
      {"RA2:0", {}},
      {"RA2:512+", {}},
      {"Foo,,RA2_128,", {5}},
      {"RA2:128x", {13, 5}},
      {"", {}},
      {nullptr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    SecTypeList types = {rfb::kSecTypeArd};
    rfb::parseSecurityTypes(c.text, types);
    SecTypeList expected = {rfb::kSecTypeArd};
    expected.insert(expected.end(), c.types.begin(), c.types.end());
    EXPECT_EQ(types, expected);
  }
}

}  // namespace
