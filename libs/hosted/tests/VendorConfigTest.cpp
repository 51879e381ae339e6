#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "libs/hosted/VendorConfig.h"
#include "libs/hosted/tests/BootstrapTestUtil.h"
#include "qocore/base/http/ProductUrl.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::testPkiFile;

plat::Buffer initialBootstrap() {
  plat::LinkedPtr<hosted::BedMap> data = yarl_test::signedData("");
  plat::LinkedPtr<hosted::BedSeq> params(new hosted::BedSeq);
  yarl_test::addParameter(*params, "enterprise/website-uri", "https://www.example.com/");
  yarl_test::addParameter(*params, "enterprise/portal-uri", "https://portal.example.com/");
  data->set("any/parameters", params);
  return yarl_test::unsignedBootstrap(data);
}

std::string configPkgFailure(const plat::Buffer& package) {
  try {
    hosted::VendorConfig config(package.count(), package.data());
    return "loaded";
  } catch (const hosted::HostedException& e) {
    return std::string(e.reason()) + ": " + e.str();
  }
}

TEST(VendorConfigTest, LoadsTheGoodCertificatesAndSetsTheAddresses) {
  EXPECT_TRUE(hosted::portalUri.setParam("https://command-line.example/", 10));
  yarl_test::LogCapture log;
  plat::Buffer package = yarl_test::vendorPackage(
      {testPkiFile("root.pem"), "not a certificate", testPkiFile("otherroot.pem")}, initialBootstrap());
  hosted::VendorConfig config(package.count(), package.data());
  EXPECT_EQ(config.checksum().count(), 20);
  EXPECT_FALSE(config.bootstrapConfig().isSigned());
  EXPECT_STREQ(http::productUri.getValue(), "https://www.example.com/");
  EXPECT_STREQ(hosted::portalUri.getValue(), "https://portal.example.com/");

  // Both good certificates are trusted, the bad one was passed over.
  for (const char* leaf : {"stranger.pem", "good.pem"}) {
    plat::LinkedPtr<ssl::SslCertificate> cert = ssl::MbedTlsCertificate::create(testPkiFile(leaf).c_str());
    ssl::CertChain others{ssl::MbedTlsCertificate::create(testPkiFile("inter.pem").c_str())};
    EXPECT_NO_THROW(config.trustManager()->verifyChain(cert, others, plat::getTime())) << leaf;
  }
  bool logged = false;
  for (const yarl_test::LogRecord& r : log.records())
    logged |= r.source == "VendorConfig" && r.text.rfind("Error in Certificate \"1\": ", 0) == 0;
  EXPECT_TRUE(logged);
  hosted::portalUri.unsetParam(10);
  hosted::portalUri.unsetParam(30);
}

TEST(VendorConfigTest, BadPackagesAreConfigPkgFailures) {
  EXPECT_EQ(configPkgFailure(yarl_test::vendorPackage({}, initialBootstrap())),
            "ConfigPkg: Hosted Configuration error: Could not load any certificates from VendorConfig");
  EXPECT_EQ(configPkgFailure(yarl_test::packageOf({{"vendorCfg.Certificates", "x"}}))
                .rfind("ConfigPkg: Hosted Configuration error: ", 0),
            0u);
  plat::Buffer certsOnly = yarl_test::vendorPackage({testPkiFile("root.pem")}, initialBootstrap());
  std::string noBootstrap;
  {
    // The same certificates without the bootstrap section.
    hosted::PackageReader reader(certsOnly.count(), certsOnly.data());
    const plat::Buffer& certs = reader.getSection("vendorCfg.Certificates");
    noBootstrap = configPkgFailure(yarl_test::packageOf(
        {{"vendorCfg.Certificates", std::string(reinterpret_cast<const char*>(certs.data()), certs.count())}}));
  }
  EXPECT_EQ(noBootstrap, "ConfigPkg: Hosted Configuration error: vendorCfg.BootstrapConfig package does not exist");
  // The initial configuration is loaded without trust: a signed one fails.
  EXPECT_EQ(configPkgFailure(yarl_test::vendorPackage({testPkiFile("root.pem")}, yarl_test::signedDocument())),
            "GeneralError: Hosted Bootstrap error: Bootstrap signature unverifiable");
}

TEST(VendorConfigTest, ChecksumFollowsEveryByte) {
  plat::Buffer a = yarl_test::vendorPackage({testPkiFile("root.pem")}, initialBootstrap(), {{"extra", "a"}});
  plat::Buffer b = yarl_test::vendorPackage({testPkiFile("root.pem")}, initialBootstrap(), {{"extra", "b"}});
  hosted::VendorConfig configA(a.count(), a.data());
  hosted::VendorConfig configB(b.count(), b.data());
  ASSERT_EQ(configA.checksum().count(), configB.checksum().count());
  EXPECT_NE(0, std::memcmp(configA.checksum().data(), configB.checksum().data(), 20));
}

}  // namespace
