#pragma once
// Shared helpers of the ssl tests: the committed test PKI and a wall clock
// the tests set.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "qocore/base/plat/Time.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"

namespace ssl_test {

inline std::string dataPath(const std::string& name) {
  const char* dir = std::getenv("YARL_TEST_DATA");
  return std::string(dir ? dir : "data") + "/" + name;
}

inline std::string readData(const std::string& name) {
  std::ifstream in(dataPath(name), std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline plat::LinkedPtr<ssl::SslCertificate> cert(const std::string& name) {
  return ssl::MbedTlsCertificate::create(readData(name + ".pem").c_str());
}

// Sets the wall clock to a fixed UTC date while it lives.
class FixedClock {
 public:
  FixedClock(int year, int month, int day) {
    now_ = plat::dateToTimeChecked(year, month, day, 0, 0, 0);
    old_ = plat::setWallClock([] { return now_; });
  }
  ~FixedClock() { plat::setWallClock(old_); }

 private:
  static inline plat::TimeValue now_ = 0;
  plat::WallClockFn old_;
};

// The code of the SslException `fn` throws; -1 when it throws none.
template <typename Fn>
long sslCode(Fn fn) {
  try {
    fn();
  } catch (const ssl::SslException& e) {
    return static_cast<long>(e.code());
  }
  return -1;
}

}  // namespace ssl_test
