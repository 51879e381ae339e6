#pragma once
// The fixture of the tests that make local channels: each test has its own
// temporary folder in place of /tmp (writable by all, like /tmp, so that
// an unprivileged child can make its folder) and a loop to turn.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "testing/FileFixtures.h"

namespace os_test {

class ChannelTest : public testing::Test {
 protected:
  void SetUp() override {
    os::init("vuzovu", "maker", "yarl", nullptr, nullptr);
    ASSERT_EQ(::chmod(tmp_.c_str(), 01777), 0);
    os::setTempDir(tmp_.c_str());
  }
  void TearDown() override { os::setTempDir(nullptr); }

  yarl_test::TempDir tmp_;
  io::FdSelectManager loop_{false};
};

}  // namespace os_test
