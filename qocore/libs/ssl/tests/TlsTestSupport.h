#pragma once
// Shared pieces of the TLS connection tests: the event loop, the test PKI
// as a trust store and as a server's chain, and receivers that record what
// a connector or a connection reports.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "qocore/base/io/Io.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/tests/SslTestUtil.h"
#include "qocore/libs/ssl/tests/TlsTestServer.h"
#include "testing/ConnectionRecorder.h"
#include "testing/RunUntil.h"

namespace ssl_test {

// A lookup that trusts the given certificates of the test PKI.
inline std::unique_ptr<ssl::SslCertLookup> trusting(std::initializer_list<const char*> names) {
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  for (const char* name : names) lookup->addCertificate(cert(name));
  return lookup;
}

// A server configuration presenting the named leaf (its key in `key`) and
// the test intermediate.
inline TlsServerConfig serving(const std::string& leaf, const std::string& key) {
  TlsServerConfig config;
  config.chainPem = readData(leaf + ".pem") + readData("inter.pem");
  config.keyPem = key;
  return config;
}

// A recorder whose connection, when it forgets it, is released as an owned
// one is: shut down, deleting itself when done.
struct ConnectReceiver : yarl_test::ConnectionRecorder {
  // Forgets the outcome.
  void reset() {
    if (io) io.release()->shutdown(true, false);
    outcome.clear();
    type.clear();
    events.clear();
  }
  ~ConnectReceiver() override { reset(); }
};

// Collects a connection's plaintext and how its input ended.
struct Reader : io::IoHandler {
  void readable(io::Io& io) override {
    rdr::InStream& in = io.in();
    try {
      while (in.check(false, 1)) {
        const int n = in.nUnread();
        data.append(reinterpret_cast<const char*>(in.getPtr()), static_cast<size_t>(n));
        in.skip(n);
        in.setCheckpoint();
      }
    } catch (const rdr::EndOfStream& e) {
      end = std::string("end: ") + e.str();
    } catch (const plat::Exception& e) {
      end = std::string("error: ") + e.str();
    }
  }
  void shutdownDone(io::Io&) override { closed = true; }
  std::string data;
  std::string end;
  bool closed = false;
};

class LoopTest : public testing::Test {
 protected:
  template <typename Pred>
  bool runUntil(Pred done) {
    return yarl_test::runUntil(manager_->runLoop(), done, std::chrono::seconds(10));
  }
  void settle() {
    for (int i = 0; i < 10; i++) manager_->runLoop().runOnce(10);
  }

  std::unique_ptr<io::IoRunLoopManager> manager_ = std::make_unique<io::IoRunLoopManager>();
};

}  // namespace ssl_test
