#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "libs/hostedremoteaccess/CredentialsFile.h"
#include "qocore/base/os/AppDirs.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using hosted::BedMap;
using hostedremoteaccess::SCredentialsData;
using ::testing::ElementsAre;

// A map with every required field and nothing else.
plat::LinkedPtr<BedMap> requiredOnly() {
  plat::LinkedPtr<BedMap> map(new BedMap);
  map->setString("cloud/my-id", "srv-1");
  map->setString("cloud/my-name", "Desk");
  map->setString("cloud/my-secret", "s3cret");
  map->setString("cloud/team-id", "team-9");
  map->setString("cloud/team-name", "Team");
  map->setString("cloud/principal", "p@example");
  map->setString("cloud/principal-password", "pw");
  map->setTime("cloud/principal-renew-from", 0);
  return map;
}

std::vector<std::string> keysOf(const BedMap& map) {
  std::vector<std::string> keys;
  for (const hosted::BedMapEntry& e : map.entries()) keys.push_back(e.key.c_str());
  return keys;
}

std::string features(const SCredentialsData& data) {
  std::string out;
  for (const plat::CharArray& f : data.team.capsFeatures) out += std::string(out.empty() ? "" : "|") + f.c_str();
  return out;
}

TEST(SCredentialsData, RequiredFieldsAloneGiveTheAbsentValues) {
  plat::LinkedPtr<BedMap> map = requiredOnly();
  SCredentialsData data(*map);
  EXPECT_STREQ(data.serverId.get(), "srv-1");
  EXPECT_STREQ(data.team.name.get(), "Team");
  EXPECT_STREQ(data.principalPassword.get(), "pw");
  EXPECT_EQ(data.plan.maxServers, -1);
  EXPECT_EQ(data.plan.expiry, -1);
  EXPECT_FALSE(data.plan.trial);
  EXPECT_FALSE(data.plan.entitled);
  EXPECT_TRUE(data.label.isNull());
  EXPECT_TRUE(data.team.capsFeatures.empty());
  EXPECT_EQ(data.lastRenewalTime, 0);

  hosted::BedRef written = data.toBed();
  const BedMap& out = written->asMap();
  EXPECT_THAT(keysOf(out),
              ElementsAre("cloud/my-id", "cloud/my-name", "cloud/my-secret", "cloud/team-id", "cloud/team-name",
                          "cloud/plan-trial", "cloud/plan-entitled", "cloud/principal", "cloud/principal-password",
                          "cloud/principal-renew-from", "capsFeatures", "cloud/last-renewal-time"));
  EXPECT_FALSE(out.get("cloud/plan-trial")->asBool().value());
  EXPECT_STREQ(out.get("capsFeatures")->asString().text(), "");
  EXPECT_EQ(out.get("cloud/last-renewal-time")->asTime().value(), 0);
  // The written record reads back the same.
  SCredentialsData again(*written);
  EXPECT_TRUE(again.team.capsFeatures.empty());
  EXPECT_STREQ(again.serverSecret.get(), "s3cret");
}

TEST(SCredentialsData, EveryFieldRoundTrips) {
  plat::LinkedPtr<BedMap> map = requiredOnly();
  map->setString("label", "Office");
  map->setString("capsFeatures", "b,a,a");
  map->setInt("cloud/plan-max-servers", 5);
  map->setTime("cloud/plan-expiry", 134170743670890000);
  map->setBool("cloud/plan-trial", true);
  map->setBool("cloud/plan-entitled", true);
  map->setTime("cloud/last-renewal-time", 134170743670000000);
  map->setString("unknown/key", "ignored");
  SCredentialsData data(*map);
  EXPECT_EQ(features(data), "a|b");
  EXPECT_STREQ(data.label.get(), "Office");

  hosted::BedRef written = data.toBed();
  const BedMap& out = written->asMap();
  EXPECT_STREQ(out.get("capsFeatures")->asString().text(), "a,b");
  EXPECT_EQ(out.find("unknown/key"), out.end());
  SCredentialsData again(*written);
  EXPECT_EQ(again.plan.maxServers, 5);
  EXPECT_EQ(again.plan.expiry, 134170743670890000);
  EXPECT_TRUE(again.plan.trial);
  EXPECT_TRUE(again.plan.entitled);
  EXPECT_EQ(again.lastRenewalTime, 134170743670000000);
  EXPECT_STREQ(again.label.get(), "Office");
  EXPECT_EQ(features(again), "a|b");
}

TEST(SCredentialsData, IntegersAreClampedToThirtyTwoBits) {
  for (auto [stored, read] : {std::pair<int64_t, int32_t>{2147483648LL, INT32_MAX}, {INT64_MIN, INT32_MIN}, {7, 7}}) {
    plat::LinkedPtr<BedMap> map = requiredOnly();
    map->setInt("cloud/plan-max-servers", stored);
    EXPECT_EQ(SCredentialsData(*map).plan.maxServers, read);
  }
}

TEST(SCredentialsData, AMissingRequiredFieldIsAThrownAssertion) {
  const std::string expected =
      "Assertion 'serverId && serverName && serverSecret && team.name && team.id && principal && "
      "principalPassword && renewFrom >= 0' failed at libs/hostedremoteaccess/CredentialsFile.cpp";
  for (const char* key : {"cloud/my-id", "cloud/my-name", "cloud/my-secret", "cloud/team-id", "cloud/team-name",
                          "cloud/principal", "cloud/principal-password", "cloud/principal-renew-from"}) {
    SCOPED_TRACE(key);
    plat::LinkedPtr<BedMap> map = requiredOnly();
    BedMap smaller;
    for (const hosted::BedMapEntry& e : map->entries())
      if (std::string(e.key.c_str()) != key) smaller.set(e.key.get(), e.value);
    EXPECT_THAT(yarl_test::failureOf<plat::AssertionFail>([&] { SCredentialsData data(smaller); }),
                ::testing::StartsWith(expected));
  }
  plat::LinkedPtr<BedMap> early = requiredOnly();
  early->setTime("cloud/principal-renew-from", -5);
  EXPECT_THAT(yarl_test::failureOf<plat::AssertionFail>([&] { SCredentialsData data(*early); }),
              ::testing::StartsWith(expected));
}

TEST(SCredentialsData, KeysOfTheWrongTypeAreRefused) {
  plat::LinkedPtr<BedMap> map = requiredOnly();
  map->setInt("cloud/my-name", 3);
  EXPECT_EQ(yarl_test::failureOf<hosted::BedBadType>([&] { SCredentialsData data(*map); }), "Unexpected BED type");
  hosted::BedSeq seq;
  EXPECT_EQ(yarl_test::failureOf<hosted::BedBadType>([&] { SCredentialsData data(seq); }), "Unexpected BED type");
}

TEST(CredentialsFile, SavesLoadsAndRemoves) {
  yarl_test::TempDir dir;
  os::PersistentStoreFile store(dir.c_str());
  hostedremoteaccess::CredentialsFile file(&store, false, nullptr);
  EXPECT_STREQ(file.fileName(), "CloudCredentials.bed");
  EXPECT_FALSE(file.load());

  plat::LinkedPtr<BedMap> map = requiredOnly();
  file.save(*map);
  const plat::Buffer written = hosted::BedValue::encodeToBuffer(*map);
  EXPECT_EQ(yarl_test::readFile(dir / "CloudCredentials.bed"),
            std::string(reinterpret_cast<const char*>(written.data()), written.count()));
  hosted::BedRef loaded = file.load();
  ASSERT_TRUE(loaded);
  EXPECT_STREQ(SCredentialsData(*loaded).serverName.get(), "Desk");

  // The full-path form reads the same file through a store of its own.
  hostedremoteaccess::CredentialsFile byPath((dir / "CloudCredentials.bed").c_str());
  EXPECT_TRUE(byPath.load());

  file.remove();
  EXPECT_EQ(yarl_test::readFile(dir / "CloudCredentials.bed"), "<missing>");
  EXPECT_FALSE(file.load());
}

TEST(CredentialsFile, UnreadableContentLoadsAsNothing) {
  yarl_test::TempDir dir;
  hostedremoteaccess::CredentialsFile file(new os::PersistentStoreFile(dir.c_str()), true, "creds.bed");
  for (const std::string& contents : {std::string(), std::string("not BED"), std::string("\xE1\x01\x00", 3),
                                      std::string("\xE0\x01\x02\x80\x01", 5)}) {
    dir.write("creds.bed", contents);
    EXPECT_FALSE(file.load());
  }
}

TEST(CredentialsFile, TheProgramStoreFollowsTheProgramName) {
  yarl_test::TempDir dir;
  os::setConfigBase(dir.c_str());
  os::PersistentStoreFile& first = hostedremoteaccess::getProgramStore("yarlserver");
  EXPECT_EQ(std::string(first.dir()), dir / "yarlserver.d");
  os::PersistentStoreFile& second = hostedremoteaccess::getProgramStore("other", true);
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(std::string(first.dir()), dir / "other.d");

  os::setConfigBase(nullptr);
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([] { hostedremoteaccess::getProgramStore("yarlserver"); }),
            "No configuration directory for yarlserver");
}

}  // namespace
