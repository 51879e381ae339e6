#include <gtest/gtest.h>

#include "qocore/base/os/tests/PipeChild.h"
#include "qocore/base/os/unix/SetuidHelper.h"

// The launch tests start this executable again as another user, as the
// program starts itself; like every main it hands such a start on first.
// The launch-with-pipe tests start it as their child program.
int main(int argc, char** argv) {
  os::runSetuidHelperIfAsked(argc, argv);
  if (int code = 0; os_test::runPipeChildIfAsked(argc, argv, code)) return code;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
