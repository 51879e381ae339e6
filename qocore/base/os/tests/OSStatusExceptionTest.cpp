#include <gtest/gtest.h>

#include <string>

#include "qocore/base/os/OSStatusException.h"

namespace {

TEST(OsStatusText, CommentOrAudioNameThenNameThenCode) {
  struct Case {
    int32_t status;
    const char* expected;
  };
  const Case cases[] = {
      {-60006, "The authorization was cancelled by the user [errAuthorizationCanceled] (-60006)"},
      {-50, "Error in user parameter list [paramErr] (-50)"},
      {0, "Unknown error [noErr] (0)"},
      {-66687, "kAudioQueueErr_InvalidBuffer (-66687)"},
      {-66677, "kAudioQueueErr_InvalidQueueType (-66677)"},
      {-66667, "kAudioQueueErr_InvalidTapType (-66667)"},
      {-66632, "kAudioQueueErr_EnqueueDuringReset (-66632)"},
      {-66626, "kAudioQueueErr_InvalidOfflineMode (-66626)"},
      {0x73746f70, "kAudioHardwareNotRunningError (1937010544)"},  // 'stop'
      {0x21686f67, "kAudioDevicePermissionsError (560492391)"},    // '!hog'
      {-66688, "Unknown error (-66688)"},
      {-66666, "Unknown error (-66666)"},
      {12345, "Unknown error (12345)"},
  };
  for (const Case& c : cases) EXPECT_STREQ(os::osStatusText(c.status).get(), c.expected) << c.status;
}

TEST(OSStatusException, JoinsTextAndStatusText) {
  os::OSStatusException e("LSSetDefaultHandlerForURLScheme", -10814);
  EXPECT_STREQ(e.str(),
               "LSSetDefaultHandlerForURLScheme: No application in the database matches the input criteria "
               "[kLSApplicationNotFoundErr] (-10814)");
  EXPECT_STREQ(e.typeName(), "OSStatus");
  EXPECT_EQ(e.status(), -10814);

  os::OSStatusException bare("", 77);
  EXPECT_STREQ(bare.str(), "Unknown error (77)");
  os::OSStatusException null(nullptr, 77);
  EXPECT_STREQ(null.str(), "Unknown error (77)");
}

TEST(OSStatusException, LongTextIsCutToTheMessageSize) {
  std::string text(300, 'x');
  os::OSStatusException e(text.c_str(), -50);
  EXPECT_EQ(std::string(e.str()), std::string(plat::Exception::kMsgSize - 1, 'x'));
}

}  // namespace
