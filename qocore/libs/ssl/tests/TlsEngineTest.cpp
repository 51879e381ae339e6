// The TLS engine on its own, over in-memory streams.

#include <gtest/gtest.h>

#include "qocore/base/rdr/MemIoStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsEngine.h"
#include "qocore/libs/ssl/tests/TlsTestSupport.h"

namespace {

TEST(TlsEngineTest, HelloAtOnceThenWaitsWithoutError) {
  auto trust = ssl::MbedTlsTrustManager::create(ssl_test::trusting({"root"}));
  ssl::MbedTlsEngine engine(trust.get(), ssl::profileSuites(ssl::kTlsNormal), "good.example.com::443", {});
  rdr::MemIoStream in;
  rdr::MemOutStream out;
  EXPECT_FALSE(engine.handshake(in, out));
  const int32_t hello = out.length();
  ASSERT_GT(hello, 5);
  EXPECT_EQ(0x16, out.data()[0]) << "a handshake record";
  EXPECT_EQ(0x01, out.data()[5]) << "the client hello";
  // No new data: no progress, no error.
  EXPECT_FALSE(engine.handshake(in, out));
  EXPECT_EQ(hello, out.length());
}

TEST(TlsEngineTest, WriteAfterCloseFailsAsClosed) {
  auto trust = ssl::MbedTlsTrustManager::create(ssl_test::trusting({"root"}));
  ssl::MbedTlsEngine engine(trust.get(), ssl::profileSuites(ssl::kTlsHigh), nullptr, {});
  rdr::MemOutStream out;
  engine.closeNotify(out);
  const uint8_t byte = 'x';
  EXPECT_EQ(ssl_test::sslCode([&] { engine.write(&byte, 1, out); }), ssl::SslException::kClosed);
}

}  // namespace
