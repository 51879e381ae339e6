#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "qocore/base/os/HostName.h"

namespace {

TEST(HostNameTest, IsTheSystemNameUnlessOverridden) {
  char expected[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
  EXPECT_STREQ(os::getLocalHostName().get(), expected);

  EXPECT_EQ(os::setLocalHostNameOverride("fixed.example"), nullptr);
  EXPECT_STREQ(os::getLocalHostName().get(), "fixed.example");
  EXPECT_STREQ(os::setLocalHostNameOverride(nullptr), "fixed.example");
  EXPECT_STREQ(os::getLocalHostName().get(), expected);
}

}  // namespace
