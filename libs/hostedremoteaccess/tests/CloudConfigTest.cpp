#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/VendorConfig.h"
#include "libs/hostedremoteaccess/CloudConfig.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "testing/BootstrapFixture.h"
#include "testing/FileFixtures.h"

namespace {

// The built-in package the build wrote into its resource folder, read once.
const std::string& builtInPackage() {
  static const std::string bytes = yarl_test::readFile(YARL_BUILT_IN_RESOURCES "/CloudConfig.pkg");
  return bytes;
}

// The first data folder is the system configuration folder, as product
// initialisation makes it, redirected under a temporary root.  The
// built-in resource is the build's package, registered anew for each test
// (the resource cache lives as long as the process).
class CloudConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qoutil::setSystemRoot(root_.c_str());
    systemDir_ = qoutil::systemPath(qoutil::kSystemConfigDir).get();
    ASSERT_EQ(systemDir_, root_.path() + qoutil::kSystemConfigDir);
    std::filesystem::create_directories(systemDir_);
    os::setConfiguredDataDir(systemDir_.c_str());
    plat::registerResource(hostedremoteaccess::kCloudConfigName, static_cast<uint32_t>(builtInPackage().size()),
                           builtInPackage().data());
  }
  void TearDown() override {
    os::setConfiguredDataDir(nullptr);
    qoutil::setSystemRoot(nullptr);
  }

  // A package of exactly `size` bytes whose bootstrap server is ours.
  void writePackage(int size) {
    plat::LinkedPtr<hosted::BedMap> data = yarl_test::signedData("");
    plat::LinkedPtr<hosted::BedSeq> uris(new hosted::BedSeq);
    uris->append(hosted::BedRef(new hosted::BedString("https://127.0.0.1/from-file")));
    data->set("btp/bootstrap-uris", uris);
    plat::Buffer bootstrap = yarl_test::unsignedBootstrap(data);
    std::string root = yarl_test::testPkiFile("root.pem");
    plat::Buffer bare = yarl_test::vendorPackage({root}, bootstrap, {{"pad", ""}});
    // The padding section grows the package to the size asked for.
    plat::Buffer bytes = yarl_test::vendorPackage({root}, bootstrap, {{"pad", std::string(size - bare.count(), 'p')}});
    ASSERT_EQ(bytes.count(), size);
    writeFile(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.count()));
  }

  const char* firstBootstrapUri(const plat::LinkedPtr<hosted::HostedEndpoint>& endpoint) {
    return endpoint->vendorConfig()->bootstrapConfig().bootstrapUris().at(0).get();
  }

  void writeFile(const std::string& bytes) {
    std::ofstream(systemDir_ + "/CloudConfig.pkg", std::ios::binary | std::ios::trunc) << bytes;
  }

  yarl_test::TempDir root_;
  std::string systemDir_;
};

TEST_F(CloudConfigTest, APackageInTheDataFoldersComesBeforeTheBuiltInCopy) {
  writePackage(hostedremoteaccess::kCloudConfigMaxSize);
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint = hostedremoteaccess::loadCloudConfig();
  EXPECT_STREQ(firstBootstrapUri(endpoint), "https://127.0.0.1/from-file");
  EXPECT_EQ(endpoint->store(), nullptr);
  EXPECT_EQ(std::strlen(endpoint->businessId()), 36u);
}

TEST_F(CloudConfigTest, MissingEmptyOrOversizedFilesFallBackToTheBuiltInCopy) {
  auto builtIn = [&] {
    plat::LinkedPtr<hosted::HostedEndpoint> endpoint = hostedremoteaccess::loadCloudConfig();
    return std::string(firstBootstrapUri(endpoint));
  };
  EXPECT_EQ(builtIn(), "https://bootstrap1.example.com/bootstrap");
  writeFile("");
  EXPECT_EQ(builtIn(), "https://bootstrap1.example.com/bootstrap");
  writePackage(hostedremoteaccess::kCloudConfigMaxSize + 1);
  EXPECT_EQ(builtIn(), "https://bootstrap1.example.com/bootstrap");
}

TEST_F(CloudConfigTest, WithoutAnyCopyTheLoaderFails) {
  plat::registerResource(hostedremoteaccess::kCloudConfigName, 0, nullptr);
  try {
    hostedremoteaccess::loadCloudConfig();
    FAIL() << "loaded";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "CloudConfig.pkg not available");
  }
}

}  // namespace
