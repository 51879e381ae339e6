#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/rdr/FdInStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"
#include "testing/SocketPair.h"

namespace {

using os::LaunchWithPipe;

std::string text(rdr::MemOutStream& out) {
  return std::string(reinterpret_cast<const char*>(out.data()), out.length());
}

TEST(WriteAllTest, CopiesUntilTheInputEnds) {
  rdr::MemInStream in("0123456789", 10);
  rdr::MemOutStream out;
  EXPECT_TRUE(LaunchWithPipe::writeAll(in, out, true));
  EXPECT_EQ(text(out), "0123456789");
}

TEST(WriteAllTest, AFullOutputFailsOrAnswersFalse) {
  for (bool failWhenFull : {true, false}) {
    SCOPED_TRACE(failWhenFull);
    rdr::MemInStream in("0123456789", 10);
    rdr::MemOutStream out(-1, 6);
    if (failWhenFull) {
      EXPECT_EQ(yarl_test::failureOf<rdr::OutStreamFull>([&] { (void)LaunchWithPipe::writeAll(in, out, true); }),
                "OutStream full");
    } else {
      EXPECT_FALSE(LaunchWithPipe::writeAll(in, out, false));
    }
    // What fitted was copied and consumed.
    EXPECT_EQ(text(out), "012345");
    EXPECT_EQ(in.nUnread(), 4);
  }
}

TEST(WriteAllTest, ANonBlockingInputIsResumedByTheNextCall) {
  yarl_test::SocketPair pair(SOCK_NONBLOCK);
  rdr::FdInStream in(pair.near.get());
  in.setNonBlocking(true);
  rdr::MemOutStream out;
  EXPECT_FALSE(LaunchWithPipe::writeAll(in, out, true));
  ASSERT_EQ(::write(pair.far.get(), "abc", 3), 3);
  EXPECT_FALSE(LaunchWithPipe::writeAll(in, out, true));
  EXPECT_EQ(text(out), "abc");
  ASSERT_EQ(::write(pair.far.get(), "de", 2), 2);
  pair.far.reset();
  EXPECT_TRUE(LaunchWithPipe::writeAll(in, out, true));
  EXPECT_EQ(text(out), "abcde");
}

}  // namespace
