#include <gtest/gtest.h>

#include "qocore/base/http/PacHelper.h"

// The PAC tests start this executable again as the PAC resolver child, as
// the program starts itself; like every main it hands such a start on
// first.
int main(int argc, char** argv) {
  http::PacHelper::main(argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
