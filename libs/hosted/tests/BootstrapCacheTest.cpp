#include <gtest/gtest.h>

#include <string>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/PackageReader.h"
#include "libs/hosted/PackageWriter.h"
#include "libs/hosted/VendorConfig.h"
#include "libs/hosted/tests/BootstrapTestUtil.h"
#include "qocore/base/os/PersistentStore.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::testPkiFile;

constexpr plat::TimeValue kHour = 3600 * plat::kTicksPerSecond;

plat::Buffer vendorPackage(const char* extra) {
  return yarl_test::vendorPackage({testPkiFile("root.pem")}, yarl_test::unsignedBootstrap(yarl_test::signedData("")),
                                  {{"extra", extra}});
}

class BootstrapCacheTest : public ::testing::Test {
 protected:
  plat::Buffer vendorBytes_ = vendorPackage("a");
  plat::LinkedPtr<hosted::VendorConfig> vendor_{new hosted::VendorConfig(vendorBytes_.count(), vendorBytes_.data())};
  yarl_test::TempDir dir_;
  os::PersistentStoreFile store_{dir_.c_str()};
  plat::Buffer body_ = yarl_test::signedDocument();

  plat::LinkedPtr<hosted::BootstrapConfig> parse(const plat::Buffer& body) {
    return plat::LinkedPtr<hosted::BootstrapConfig>(new hosted::BootstrapConfig(
        body.count(), body.data(), vendor_->trustManager(), yarl_test::kBootstrapUrl, true));
  }
  // Writes the entry through a cache of its own.
  void store(plat::TimeValue expiry, plat::TimeValue refresh) {
    hosted::BootstrapCache cache(&store_, vendor_);
    cache.update(parse(body_), body_, yarl_test::kBootstrapUrl, expiry, refresh);
  }
  bool entryExists() {
    plat::Buffer bytes;
    return store_.read(hosted::BootstrapCache::kStoreKey, bytes);
  }
  std::string readFailure(const plat::LinkedPtr<hosted::VendorConfig>& vendor) {
    yarl_test::LogCapture log;
    hosted::BootstrapCache cache(&store_, vendor);
    EXPECT_FALSE(cache.config().get());
    EXPECT_EQ(cache.expiryTime(), 0);
    EXPECT_FALSE(entryExists());
    for (const yarl_test::LogRecord& r : log.records())
      if (r.source == "BootstrapCache") return r.text;
    return "no log";
  }
};

TEST_F(BootstrapCacheTest, UpdateKeepsTheEntryUsableUntilExpiryAndFreshUntilRefresh) {
  plat::TimeValue now = plat::getTime();
  store(now + kHour, now + 24 * kHour);
  hosted::BootstrapCache cache(&store_, vendor_);
  ASSERT_TRUE(cache.config().get());
  EXPECT_TRUE(cache.config()->isSigned());
  EXPECT_STREQ(cache.sourceUrl(), yarl_test::kBootstrapUrl);
  EXPECT_EQ(cache.expiryTime(), now + kHour);
  EXPECT_EQ(cache.refreshTime(), now + 24 * kHour);
  EXPECT_TRUE(cache.isUsable());
  EXPECT_TRUE(cache.isFresh());

  cache.erase();
  EXPECT_FALSE(cache.isUsable());
  EXPECT_EQ(cache.sourceUrl(), nullptr);
  EXPECT_FALSE(entryExists());
}

TEST_F(BootstrapCacheTest, AnEntryPastItsExpiryIsKeptButNotUsable) {
  plat::TimeValue now = plat::getTime();
  store(now - 1, now - 1);
  hosted::BootstrapCache cache(&store_, vendor_);
  EXPECT_TRUE(cache.config().get());
  EXPECT_FALSE(cache.isUsable());
  EXPECT_FALSE(cache.isFresh());
}

TEST_F(BootstrapCacheTest, NegativeMaximumAgeGivesAnExpiryInThePast) {
  plat::LinkedPtr<hosted::BedMap> data = yarl_test::signedData();
  data->setInt("btp/max-age-secs", INT64_MIN);
  body_ = yarl_test::signedDocument(data);
  plat::LinkedPtr<hosted::BootstrapConfig> config = parse(body_);
  hosted::BootstrapCache cache(&store_, vendor_);
  cache.update(config, body_, yarl_test::kBootstrapUrl, hosted::addTicks(plat::getTime(), config->maxAge()), 0);
  EXPECT_LT(cache.expiryTime(), 0);
  EXPECT_FALSE(cache.isUsable());
}

TEST_F(BootstrapCacheTest, EntriesThatNoLongerHoldAreDiscarded) {
  store(plat::getTime() + 2 * kHour, 0);
  EXPECT_EQ(readFailure(vendor_), "Unable to read cache: expiryTime in cache exceeds age of the config");

  store(plat::getTime() + kHour, 0);
  plat::Buffer otherBytes = vendorPackage("b");
  plat::LinkedPtr<hosted::VendorConfig> other(new hosted::VendorConfig(otherBytes.count(), otherBytes.data()));
  EXPECT_EQ(readFailure(other), "Unable to read cache: Checksum of package file does not match that in the cache");

  // An entry whose times section holds only the expiry.
  store(plat::getTime() + kHour, 0);
  plat::Buffer bytes;
  ASSERT_TRUE(store_.read(hosted::BootstrapCache::kStoreKey, bytes));
  hosted::PackageReader reader(bytes.count(), bytes.data());
  hosted::PackageWriter writer;
  for (const auto& [name, data] : reader.sections()) writer.addSection(name.get(), data);
  writer.addSection("ExpiryTime", reader.getSection("ExpiryTime").data(), 8);
  rdr::MemOutStream out;
  writer.write(out);
  store_.write(hosted::BootstrapCache::kStoreKey, out.takeBuffer());
  EXPECT_EQ(readFailure(vendor_).rfind("Unable to read cache: ", 0), 0u);
}

TEST_F(BootstrapCacheTest, UnsignedConfigurationsAndNoStoreChangeNothingStored) {
  plat::TimeValue now = plat::getTime();
  store(now + kHour, now + kHour);
  hosted::BootstrapCache cache(&store_, vendor_);
  plat::Buffer plain = yarl_test::unsignedBootstrap(yarl_test::signedData());
  plat::LinkedPtr<hosted::BootstrapConfig> unsignedConfig(
      new hosted::BootstrapConfig(plain.count(), plain.data(), nullptr, nullptr, false));
  cache.update(unsignedConfig, plain, "https://127.0.0.1/other", now + 2 * kHour, 0);
  EXPECT_STREQ(cache.sourceUrl(), yarl_test::kBootstrapUrl);
  EXPECT_EQ(cache.expiryTime(), now + kHour);
  EXPECT_TRUE(hosted::BootstrapCache(&store_, vendor_).isUsable());

  hosted::BootstrapCache memory(nullptr, vendor_);
  EXPECT_FALSE(memory.isUsable());
  memory.update(parse(body_), body_, "https://127.0.0.1/other", now + kHour, 0);
  EXPECT_TRUE(memory.isUsable());
  EXPECT_STREQ(hosted::BootstrapCache(&store_, vendor_).sourceUrl(), yarl_test::kBootstrapUrl);
}

}  // namespace
