#include <gtest/gtest.h>

#include <string>

#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/libs/svr/SEncryption.h"

namespace {

TEST(SEncryptionTest, ModesHaveTheirWordsAndTexts) {
  struct Case {
    uint32_t mode;
    const char* word;  // null: the fallback is given back
    const char* name;
    const char* shortName;
  };
  const Case cases[] = {
      {svr::kEncAlwaysMaximum, "AlwaysMaximum", "Always maximum", "Always maximum (256-bit AES)"},
      {svr::kEncAlwaysOn, "AlwaysOn", "Always on", "Always on (at least 128-bit AES)"},
      {svr::kEncPreferOn, "PreferOn", "Prefer on", "Custom"},
      {svr::kEncPreferOff, "PreferOff", "Prefer off", "Custom"},
      {svr::kEncAlwaysOff, "AlwaysOff", "Always off", "Custom"},
      {svr::kEncCustom, nullptr, "", ""},
      {9, nullptr, "", ""},
  };
  loc::LocaleSetter setter("en");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const auto mode = static_cast<svr::SEncryption>(c.mode);
    EXPECT_STREQ(svr::encryptionParameterText(mode, "fallback"), c.word ? c.word : "fallback");
    EXPECT_STREQ(svr::encryptionDisplayName(mode), c.name);
    EXPECT_STREQ(svr::encryptionShortDisplayName(mode), c.shortName);
    if (c.word) {
      EXPECT_EQ(svr::encryptionFromText(c.word), c.mode);
    }
  }
  loc::LocaleSetter german("de");
  EXPECT_STREQ(svr::encryptionDisplayName(svr::kEncAlwaysOn), "Immer ein");
}

TEST(SEncryptionTest, WordsAreReadIgnoringCase) {
  struct Case {
    const char* text;
    svr::SEncryption mode;
  };
  const Case cases[] = {
      {"alwayson", svr::kEncAlwaysOn},
      {"PREFEROFF", svr::kEncPreferOff},
      {"alwaysMaximum", svr::kEncAlwaysMaximum},
      {"Never", svr::kEncCustom},
      {"", svr::kEncCustom},
      {"AlwaysOn ", svr::kEncCustom},
      {"Always On", svr::kEncCustom},
      {nullptr, svr::kEncCustom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    EXPECT_EQ(svr::encryptionFromText(c.text), c.mode);
  }
}

TEST(SEncryptionTest, TheConfigurationGivesAModeOnlyWhileTheSecurityTypesAreAutomatic) {
  struct Case {
    const char* secTypes;  // null: no such parameter
    const char* encryption;
    bool isAuto;
    svr::SEncryption mode;
  };
  const Case cases[] = {
      {"<auto>", "AlwaysMaximum", true, svr::kEncAlwaysMaximum},
      {"<AUTO>", "preferoff", true, svr::kEncPreferOff},
      {"<auto>", "Never", true, svr::kEncCustom},
      {"<auto>", nullptr, true, svr::kEncCustom},
      {"RA2:256+", "AlwaysOn", false, svr::kEncCustom},
      {"", "AlwaysOn", false, svr::kEncCustom},
      {" <auto>", "AlwaysOn", false, svr::kEncCustom},
      {nullptr, "AlwaysOn", false, svr::kEncCustom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.secTypes ? c.secTypes : "(none)") + " " + (c.encryption ? c.encryption : "(none)"));
    plat::Configuration conf("SEncryptionTest");
    if (c.secTypes) conf.addString("SecurityTypes", "", c.secTypes);
    if (c.encryption) conf.addString("Encryption", "", c.encryption);
    EXPECT_EQ(svr::isAutoSecurityTypes(conf), c.isAuto);
    EXPECT_EQ(svr::encryptionFromConfiguration(conf), c.mode);
  }
  // The value in force counts, whatever the default.
  plat::Configuration conf("SEncryptionTest");
  plat::StringParameter* secTypes = conf.addString("SecurityTypes", "", "RA2_256");
  conf.addString("Encryption", "", "AlwaysOn");
  EXPECT_EQ(svr::encryptionFromConfiguration(conf), svr::kEncCustom);
  ASSERT_TRUE(secTypes->setParam("<auto>", plat::ConfigParameter::kPreference));
  EXPECT_EQ(svr::encryptionFromConfiguration(conf), svr::kEncAlwaysOn);

  // The setup program defines none of these parameters.
  EXPECT_FALSE(svr::isAutoSecurityTypes(plat::Configuration::global()));
  EXPECT_EQ(svr::encryptionFromConfiguration(plat::Configuration::global()), svr::kEncCustom);
}

}  // namespace
