#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/libs/svr/SAuthentication.h"
#include "testing/FailureOf.h"

namespace {

using rfb::SecTypeList;
using yarl_test::failureOf;

// Words as a server might register them.
constexpr std::pair<const char*, uint32_t> kMethods[] = {
    {"SystemAuth", svr::kLegacyMethodId},
    {"YarlAuth", svr::kLegacyMethodId},
    {"SingleSignOn", svr::kStandaloneMethodId},
    {"Radius", 5},
    {"Duo", 6},
};

// The registry holds kMethods for the test's duration.
class SAuthenticationTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [word, id] : kMethods) svr::registerMethod(word, id, true);
  }
  void TearDown() override {
    for (const auto& [word, id] : kMethods) svr::registerMethod(word, id, false);
  }
};

// A configuration holding the parameters given (null: not defined).
struct SecurityConf {
  SecurityConf(const char* secTypes, const char* encryption, const char* authentication) {
    if (secTypes) conf.addString("SecurityTypes", "", secTypes);
    if (encryption) conf.addString("Encryption", "", encryption);
    if (authentication) conf.addString("Authentication", "", authentication);
  }
  plat::Configuration conf{"SAuthenticationTest"};
};

std::string traceOf(const char* text) { return text ? std::string("\"") + text + "\"" : "(null)"; }

TEST(SAuthenticationSchemesTest, EverySchemeHasItsTextNameAndDescription) {
  struct Case {
    uint32_t scheme;
    const char* text;  // null: the custom text is given back
    const char* name;
    const char* description;
  };
  // clang-format off
  const Case cases[] = {
      {0, "", "Not configured", "Authentication is not configured."},
      {1, "None", "None", "Corvane Server is not password-protected. This is NOT recommended."},
      {2, "YarlAuth", "Yarl Device Password", "When prompted, connecting users should enter the Yarl password."},
      {3, "SystemAuth", "Mac password",
       "When prompted, connecting users should enter their Mac user name and password."},
      {4, "SingleSignOn,SystemAuth", "Single Sign-On (SSPI/GSSAPI)",
       "Connecting users should be automatically authenticated by secure network services."},
      {5, "InteractiveSystemAuth", "Interactive Mac authentication",
       "When prompted, connecting users should enter their Mac user name followed by any additional requested system "
       "credentials."},
      {6, "Certificate", "Smartcard/certificate store",
       "Connecting users should be transparently authenticated by a certificate they own, either on a smartcard or in "
       "a store on the connecting device."},
      {7, "SystemAuth+Radius", "Mac password + RADIUS authentication",
       "When prompted, connecting users should enter their Mac user name and password, then authenticate to a RADIUS "
       "server."},
      {8, "SystemAuth+Duo", "Mac password + Duo authentication",
       "When prompted, connecting users should enter their Mac user name and password, then authenticate using their "
       "Duo device."},
      {9, "SystemAuth+SecurID", "Mac password + RSA SecurID® authentication",
       "When prompted, connecting users should enter their Mac user name and password, then authenticate using their "
       "RSA SecurID® token."},
      {10, "CloudSso", "Single Sign-On (IdP via Corvane services)",
       "Connecting users should be transparently authenticated using their single sign-on credentials via Corvane "
       "services. Access is controlled by group membership."},
      {11, nullptr, "Custom", ""},
      {12, nullptr, "", ""},
      {0xffffffff, nullptr, "", ""},
  };
  // clang-format on
  loc::LocaleSetter setter("en");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    const auto scheme = static_cast<svr::SAuthentication>(c.scheme);
    EXPECT_STREQ(svr::parameterText(scheme, "Radius+SystemAuth"), c.text ? c.text : "Radius+SystemAuth");
    EXPECT_STREQ(svr::displayName(scheme).get(), c.name);
    EXPECT_STREQ(svr::description(scheme).get(), c.description);
    if (c.text) {
      EXPECT_EQ(svr::fromText(c.text), c.scheme);
    }
  }
  EXPECT_STREQ(svr::platformName(), "Mac");
}

TEST(SAuthenticationSchemesTest, NamesAndDescriptionsFollowTheLanguage) {
  loc::LocaleSetter setter("de");
  EXPECT_STREQ(svr::displayName(svr::kAuthSystemAuthRadius).get(), "Mac-Kennwort + RADIUS-Authentifizierung");
  EXPECT_STREQ(svr::displayName(svr::kAuthCustom).get(), "Benutzerdefiniert");
  EXPECT_STREQ(svr::description(svr::kAuthSystemAuth).get(),
               "Sich verbindende Benutzer geben bei Aufforderung ihren Mac-Benutzernamen und ihr Kennwort ein.");
}

TEST(SAuthenticationSchemesTest, TextsAreSchemesOnlyAsTabledIgnoringCase) {
  struct Case {
    const char* text;
    svr::SAuthentication scheme;
  };
  const Case cases[] = {
      {"systemauth+radius", svr::kAuthSystemAuthRadius},
      {"Radius+SystemAuth", svr::kAuthCustom},
      {"SYSTEMAUTH+DUO", svr::kAuthSystemAuthDuo},
      {"Duo+SystemAuth", svr::kAuthCustom},
      {"singlesignon,systemauth", svr::kAuthSingleSignOn},
      {"SystemAuth,SingleSignOn", svr::kAuthCustom},
      {"SingleSignOn", svr::kAuthCustom},
      {"none", svr::kAuthNone},
      {"cloudSSO", svr::kAuthCloudSso},
      {"", svr::kAuthUnset},
      {" ", svr::kAuthCustom},
      {"SystemAuth ", svr::kAuthCustom},
      {"Custom", svr::kAuthCustom},
      {nullptr, svr::kAuthCustom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(traceOf(c.text));
    EXPECT_EQ(svr::fromText(c.text), c.scheme);
  }
}

TEST(SAuthenticationSchemesTest, TheConfigurationGivesASchemeOnlyWhileTheSecurityTypesAreAutomatic) {
  struct Case {
    const char* secTypes;  // null: not defined
    const char* authentication;
    svr::SAuthentication scheme;
  };
  const Case cases[] = {
      {"<auto>", "SystemAuth+Duo", svr::kAuthSystemAuthDuo},
      {"<AUTO>", "YarlAuth", svr::kAuthYarlAuth},
      {"<auto>", "Duo+SystemAuth", svr::kAuthCustom},
      {"<auto>", "", svr::kAuthUnset},
      {"<auto>", nullptr, svr::kAuthCustom},
      {"RA2_256", "SystemAuth", svr::kAuthCustom},
      {nullptr, "SystemAuth", svr::kAuthCustom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(traceOf(c.secTypes) + " " + traceOf(c.authentication));
    SecurityConf conf(c.secTypes, "AlwaysOn", c.authentication);
    EXPECT_EQ(svr::fromConfiguration(conf.conf), c.scheme);
  }
  // The setup program defines none of the parameters.
  EXPECT_EQ(svr::fromConfiguration(plat::Configuration::global()), svr::kAuthCustom);
}

// What the listeners saw: each call with the id "Foo" had then.
std::vector<std::string> listenerCalls;
void firstListener() { listenerCalls.push_back("first " + std::to_string(svr::methodId("Foo"))); }
void secondListener() { listenerCalls.push_back("second"); }

TEST(SAuthenticationRegistryTest, WordsMapToIdsAndEveryChangeCallsTheListenersInOrder) {
  listenerCalls.clear();
  svr::addMethodListener(firstListener);
  svr::addMethodListener(secondListener);
  EXPECT_EQ(svr::methodId("Foo"), 0u);
  svr::registerMethod("Foo", 9, true);
  EXPECT_EQ(svr::methodId("Foo"), 9u);
  // Words are exact.
  EXPECT_EQ(svr::methodId("foo"), 0u);
  EXPECT_EQ(svr::methodId("Foo "), 0u);
  EXPECT_EQ(svr::methodId(nullptr), 0u);
  svr::registerMethod("Foo", 12, true);
  EXPECT_EQ(svr::methodId("Foo"), 12u);
  svr::registerMethod("Foo", 12, false);
  EXPECT_EQ(svr::methodId("Foo"), 0u);
  svr::registerMethod("Bar", 3, false);
  EXPECT_EQ(listenerCalls, (std::vector<std::string>{"first 9", "second", "first 12", "second", "first 0", "second",
                                                     "first 0", "second"}));
}

TEST(SAuthenticationRegistryTest, WithNothingRegisteredOnlyNoneIsUnderstood) {
  ASSERT_EQ(svr::methodId("SystemAuth"), 0u);
  const qoauth::SAuthFlows flows = svr::parseAuthList("None,Foo", false);
  ASSERT_EQ(flows.size(), 1u);
  EXPECT_TRUE(flows.flows()[0].empty());
  EXPECT_EQ(failureOf<plat::Exception>([] { (void)svr::parseAuthList("None,Foo", true); }),
            "Unknown auth method \"Foo\"");
}

TEST_F(SAuthenticationTest, TheAuthenticationSyntaxIsParsedAndPrinted) {
  struct Case {
    const char* text;
    const char* printed;        // of the lenient parse
    const char* strictFailure;  // null: the strict parse prints the same
  };
  const Case cases[] = {
      {"None,Foo", "None", "Unknown auth method \"Foo\""},
      {"None,SystemAuth+Radius", "None,SystemAuth+Radius", nullptr},
      {"SingleSignOn,SystemAuth+Duo+Radius", "SingleSignOn,SystemAuth+Duo+Radius", nullptr},
      {"none,NONE", "None,None", nullptr},
      {"YarlAuth,None,YarlAuth", "YarlAuth,None,YarlAuth", nullptr},
      // Empty alternatives are skipped; an empty word is unknown.
      {",,SystemAuth,,Duo,", "SystemAuth,Duo", nullptr},
      {"SystemAuth+", "", "Unknown auth method \"\""},
      {"SystemAuth++Radius,Duo", "Duo", "Unknown auth method \"\""},
      {"+", "", "Unknown auth method \"\""},
      // An unknown word drops its whole alternative; strictness names the
      // first one.
      {"Foo+SystemAuth,YarlAuth", "YarlAuth", "Unknown auth method \"Foo\""},
      {"SystemAuth+Bar+Baz,Duo", "Duo", "Unknown auth method \"Bar\""},
      {"systemauth", "", "Unknown auth method \"systemauth\""},
      {" SystemAuth", "", "Unknown auth method \" SystemAuth\""},
      {"", "", nullptr},
      {nullptr, "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(traceOf(c.text));
    EXPECT_STREQ(svr::authListText(svr::parseAuthList(c.text, false)).get(), c.printed);
    if (c.strictFailure) {
      EXPECT_EQ(failureOf<plat::Exception>([&] { (void)svr::parseAuthList(c.text, true); }), c.strictFailure);
    } else {
      EXPECT_STREQ(svr::authListText(svr::parseAuthList(c.text, true)).get(), c.printed);
    }
  }

  // Each method keeps its id and its word as written.
  const qoauth::SAuthFlows flows = svr::parseAuthList("None,SystemAuth+Radius,Duo", true);
  std::vector<std::vector<std::pair<uint32_t, std::string>>> seen;
  for (const qoauth::SAuthFlows::Flow& flow : flows.flows()) {
    seen.emplace_back();
    for (const qoauth::SAuthFlows::Method& method : flow) seen.back().emplace_back(method.id, method.word.get());
  }
  using Methods = std::vector<std::pair<uint32_t, std::string>>;
  EXPECT_EQ(seen, (std::vector<Methods>{{}, {{1, "SystemAuth"}, {5, "Radius"}}, {{6, "Duo"}}}));
}

TEST_F(SAuthenticationTest, AutomaticSecurityTypesFollowTheEncryptionAndTheAlternatives) {
  struct Case {
    const char* secTypes;
    const char* encryption;
    const char* authentication;
    SecTypeList types;
  };
  // RA2ne_128 6, RA2ne_256 130, RA2r_128 13, RA2r_256 133, RA2_128 5,
  // RA2_256 129; SSOne 12, 132; SSOr 14, 134; SSO 11, 131.
  const Case cases[] = {
      {"<auto>", "AlwaysMaximum", "None", {133, 129}},
      {"<auto>", "AlwaysOn", "None", {13, 133, 5, 129}},
      {"<auto>", "PreferOn", "None", {13, 133, 5, 129, 6, 130, 1}},
      {"<auto>", "PreferOff", "None", {6, 130, 1, 13, 133, 5, 129}},
      {"<auto>", "AlwaysOff", "None", {6, 130, 1}},
      {"<auto>", "Never", "None", {}},
      {"<auto>", nullptr, "None", {}},
      {"<AUTO>", "alwaysoff", "YarlAuth", {6, 130, 2}},
      {"<auto>", "AlwaysOn", "YarlAuth", {13, 133, 5, 129}},
      {"<auto>", "AlwaysOff", "SystemAuth", {6, 130}},
      {"<auto>", "AlwaysOff", "SingleSignOn", {12, 132}},
      {"<auto>", "AlwaysMaximum", "singlesignon,SystemAuth", {134, 131, 133, 129}},
      {"<auto>", "PreferOff", "SingleSignOn", {12, 132, 14, 134, 11, 131}},
      // Chains, other ids and unknown words add nothing; repeats repeat.
      {"<auto>", "AlwaysOff", "SystemAuth+Radius", {}},
      {"<auto>", "AlwaysOff", "Radius,Foo,yarlauth", {}},
      {"<auto>", "AlwaysOff", "None,,none", {6, 130, 1, 6, 130, 1}},
      {"<auto>", "AlwaysOff", "", {}},
      {"<auto>", "AlwaysOff", nullptr, {}},
      // An explicit list stands as it is.
      {"RA2:256+,None", "AlwaysOff", "YarlAuth", {133, 129, 1}},
      {"auto", "AlwaysOff", "None", {}},
      {nullptr, "AlwaysOff", "None", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(traceOf(c.secTypes) + " " + traceOf(c.encryption) + " " + traceOf(c.authentication));
    SecTypeList types = {rfb::kSecTypeArd};
    svr::resolveSecurityTypes(c.secTypes, c.encryption, c.authentication, types);
    SecTypeList expected = {rfb::kSecTypeArd};
    expected.insert(expected.end(), c.types.begin(), c.types.end());
    EXPECT_EQ(types, expected);

    SecurityConf conf(c.secTypes, c.encryption, c.authentication);
    SecTypeList fromConf;
    svr::securityTypesFromConfiguration(conf.conf, fromConf);
    EXPECT_EQ(fromConf, c.types);

    if (c.secTypes && std::string(c.secTypes) == "<auto>") {
      SecTypeList byMode;
      svr::resolveSecurityTypes(svr::encryptionFromText(c.encryption), c.authentication, byMode);
      EXPECT_EQ(byMode, c.types);
    }
  }
  SecTypeList none;
  svr::resolveSecurityTypes(static_cast<svr::SEncryption>(7), "None", none);
  svr::securityTypesFromConfiguration(plat::Configuration::global(), none);
  EXPECT_EQ(none, SecTypeList{});
}

TEST_F(SAuthenticationTest, QueriesReadTheTextLeniently) {
  plat::CharArrayList single;
  svr::singleMethodAlternatives("None,SystemAuth,SystemAuth+Radius,Radius,SingleSignOn,none,,Foo,YarlAuth", single);
  std::vector<std::string> words;
  for (const plat::CharArray& word : single) words.push_back(word.get());
  EXPECT_EQ(words, (std::vector<std::string>{"None", "SystemAuth", "SingleSignOn", "none", "YarlAuth"}));

  EXPECT_TRUE(svr::hasNoneAlternative("SystemAuth,NONE"));
  EXPECT_TRUE(svr::hasNoneAlternative("Foo,None"));
  EXPECT_FALSE(svr::hasNoneAlternative("SystemAuth,Nobody"));
  EXPECT_FALSE(svr::hasNoneAlternative(nullptr));

  EXPECT_TRUE(svr::hasMethodWord("Duo", "SystemAuth+Duo"));
  EXPECT_TRUE(svr::hasMethodWord("Duo", "SystemAuth", "Radius,Duo"));
  EXPECT_FALSE(svr::hasMethodWord("Duo", "SystemAuth"));
  EXPECT_FALSE(svr::hasMethodWord("Duo", "SystemAuth", "Foo+Duo"));
  EXPECT_FALSE(svr::hasMethodWord("duo", "SystemAuth+Duo"));

  EXPECT_TRUE(svr::hasLegacyMethod(SecurityConf(nullptr, nullptr, "Radius,Duo+YarlAuth").conf));
  EXPECT_FALSE(svr::hasLegacyMethod(SecurityConf(nullptr, nullptr, "Radius,Foo+SystemAuth").conf));
  EXPECT_FALSE(svr::hasLegacyMethod(SecurityConf(nullptr, nullptr, nullptr).conf));
}

}  // namespace
