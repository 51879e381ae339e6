#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "qocore/base/plat/Exception.h"

namespace {

using plat::Exception;

std::string text(const Exception& e, const char* fallback = nullptr) {
  char out[Exception::kMsgSize];
  e.format(out, fallback);
  return out;
}

TEST(Exception, MessageIsCutAtAWholeUtf8Sequence) {
  struct Case {
    const char* name;
    std::string message;
    std::string stored;
  };
  const std::string a254(254, 'a');
  const Case cases[] = {
      {"ascii fits", "short", "short"},
      {"300 ascii bytes keep 255", std::string(300, 'x'), std::string(255, 'x')},
      {"two-byte char across the cut", a254 + "\xC3\xA9" + "tail", a254},
      {"three-byte char across the cut", std::string(253, 'a') + "\xE2\x82\xAC", std::string(253, 'a')},
      {"char ending exactly at 255", std::string(253, 'a') + "\xC3\xA9" + "z", std::string(253, 'a') + "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    Exception e(c.message.c_str());
    EXPECT_EQ(e.str(), c.stored) << c.name;
    Exception f("%s", c.message.c_str());
    EXPECT_EQ(f.str(), c.stored) << c.name << " (formatted)";
  }
}

TEST(Exception, NullMessageIsEmpty) {
  Exception e(static_cast<const char*>(nullptr));
  EXPECT_STREQ(e.str(), "");
  EXPECT_STREQ(e.typeName(), "");
}

TEST(Exception, TextFormShowsTheTypeInBrackets) {
  EXPECT_EQ(text(Exception("plain")), "plain");
  EXPECT_EQ(text(plat::TimedOut("waiting")), "[TimedOut] waiting");
  EXPECT_EQ(text(plat::BadNum("Failed to parse integer")), "Failed to parse integer");
  EXPECT_EQ(text(plat::ExceptionFmt("%d files", 3)), "3 files");
  // The fallback stands in for an empty message only.
  EXPECT_EQ(text(Exception(""), "no message"), "no message");
  EXPECT_EQ(text(Exception("m"), "no message"), "m");
  EXPECT_EQ(text(plat::TimedOut("")), "[TimedOut] ");
}

TEST(Exception, TextFormIsBoundedToTheBuffer) {
  plat::TimedOut e(std::string(255, 'y').c_str());
  std::string t = text(e);
  EXPECT_EQ(t.size(), 255u);
  EXPECT_EQ(t.substr(0, 11), "[TimedOut] ");
}

TEST(SystemException, TextForms) {
  plat::SystemException success("x", 0);
  EXPECT_STREQ(success.str(), "x: Success (0)");
  EXPECT_STREQ(success.typeName(), "System-0");
  EXPECT_EQ(success.error(), 0);

  // The C library's own text is never compared, only its frame.
  plat::SystemException noMessage("", ENOENT);
  std::string code = " (" + std::to_string(ENOENT) + ")";
  std::string msg = noMessage.str();
  EXPECT_NE(msg.substr(0, 2), ": ");
  EXPECT_GT(msg.size(), code.size());
  EXPECT_EQ(msg.substr(msg.size() - code.size()), code);
  EXPECT_EQ(std::string(noMessage.typeName()), "System-" + std::to_string(ENOENT));

  plat::SystemException named("getcwd", ENOENT);
  EXPECT_EQ(std::string(named.str()), "getcwd: " + msg);
  EXPECT_EQ(text(named), "[System-" + std::to_string(ENOENT) + "] getcwd: " + msg);
}

TEST(SystemException, FormattedAndErrnoForms) {
  plat::SystemExceptionFmt fmt("open(%s)", EACCES, "/x");
  std::string m = fmt.str();
  EXPECT_EQ(m.substr(0, 9), "open(/x):");
  EXPECT_EQ(fmt.error(), EACCES);
  EXPECT_EQ(std::string(fmt.typeName()), "System-" + std::to_string(EACCES));

  errno = EBADF;
  plat::StdlibException std("close(%d)", 5);
  EXPECT_EQ(std.error(), EBADF);
  EXPECT_EQ(std::string(std.str()).substr(0, 9), "close(5):");

  // Caught through the root class like any other failure.
  try {
    throw plat::SystemExceptionFmt("mkDir(%s)", ENOTDIR, "/a/b");
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.typeName()), "System-" + std::to_string(ENOTDIR));
  }
}

TEST(SystemException, UnknownErrorNumberStillEndsInItsCode) {
  plat::SystemException e("call", 98765);
  std::string m = e.str();
  EXPECT_EQ(m.substr(0, 6), "call: ");
  EXPECT_EQ(m.substr(m.size() - 8), " (98765)");
}

TEST(AssertionFail, MessageTypeAndDetail) {
  plat::AssertionFail a("p != nullptr", "qocore/base/plat/X.cpp", 42);
  EXPECT_STREQ(a.str(), "Assertion 'p != nullptr' failed at qocore/base/plat/X.cpp:42");
  EXPECT_STREQ(a.typeName(), "AssertionFail");
  EXPECT_STREQ(a.expression(), "p != nullptr");
  EXPECT_EQ(a.line(), 42);
  a.appendf("%s is null", "Widget");
  EXPECT_STREQ(a.str(), "Assertion 'p != nullptr' failed at qocore/base/plat/X.cpp:42: Widget is null");
}

TEST(Exception, CopiesAreIndependentValues) {
  plat::TimedOut original("first");
  Exception copy = original;
  EXPECT_STREQ(copy.str(), "first");
  EXPECT_STREQ(copy.typeName(), "TimedOut");
}

}  // namespace
