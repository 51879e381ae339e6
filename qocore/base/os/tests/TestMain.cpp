#include <gtest/gtest.h>

#include "qocore/base/os/unix/SetuidHelper.h"

// The launch tests start this executable again as another user, as the
// program starts itself; like every main it hands such a start on first.
int main(int argc, char** argv) {
  os::runSetuidHelperIfAsked(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
