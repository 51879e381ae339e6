#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libs/qoSetup/AdminHelper.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/unix/SetuidHelper.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "qocore/libs/product/Init.h"

// The admin helper's tests start this executable again as "-helper", as the
// wizard starts the program, and as another user through the launch's
// set-uid step.  Started as "-helper" it takes the folders it must use in
// place of root's own from the environment:
//   YARL_TEST_HELPER_HOME  root's home
//   YARL_TEST_HELPER_ROOT  the folder standing for "/"
//   YARL_TEST_HELPER_TMP   the folder of the local channels

namespace {

plat::CharArray testHome(uid_t) { return plat::CharArray(std::getenv("YARL_TEST_HELPER_HOME")); }

}  // namespace

int main(int argc, char** argv) {
  os::runSetuidHelperIfAsked(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "-helper") == 0) {
    const char* root = std::getenv("YARL_TEST_HELPER_ROOT");
    const char* tmp = std::getenv("YARL_TEST_HELPER_TMP");
    if (!std::getenv("YARL_TEST_HELPER_HOME") || !root || !tmp) {
      std::fputs("-helper needs YARL_TEST_HELPER_HOME, YARL_TEST_HELPER_ROOT and YARL_TEST_HELPER_TMP\n", stderr);
      return 2;
    }
    (void)product::setHomeLookup(&testHome);
    qoutil::setSystemRoot(root);
    os::setTempDir(tmp);
    return qoSetup::AdminHelper::main(argv);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
