#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Path.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::TempDir;

// "ok" or the text of the failure.
std::string check(const std::string& path, const std::set<uid_t>& trusted) {
  try {
    plat::checkPathSecure(path.c_str(), trusted);
    return "ok";
  } catch (const plat::Exception& e) {
    return e.str();
  }
}

std::string ensure(const std::string& path, const char* description) {
  try {
    plat::CharArray out("stale");
    plat::ensureSecurePath(out, path.c_str(), description);
    return std::string("ok ") + out.get();
  } catch (const plat::Exception& e) {
    return e.str();
  }
}

std::string refused(const std::string& prefix) { return prefix + ": permissions are not restrictive enough"; }

TEST(PathSecurity, EverythingUnderTmpIsRefused) {
  // /tmp has the other-write bit; its sticky bit earns no exception.
  TempDir dir("/tmp");
  EXPECT_EQ(check(dir.path(), {0, getuid()}), refused("/tmp"));
  EXPECT_EQ(ensure(dir.path(), nullptr), refused("/tmp"));
}

// The checks that need a folder whose every prefix is safe run in a child
// with a mount namespace of its own, where /tmp is a fresh tmpfs owned by
// root with mode 0755.  Nothing outside the child sees it.
TEST(PathSecurity, ChecksEveryPrefixOwnerAndMode) {
  yarl_test::User other = yarl_test::nobody();
  std::string result = yarl_test::inChild([&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
      return std::string("mount: ") + strerror(errno);

    TempDir base("/tmp");  // 0700, ours
    std::string own = base / "own", groupWritable = base / "group", theirs = base / "theirs";
    mkdir(own.c_str(), 0700);
    mkdir(groupWritable.c_str(), 0700);
    chmod(groupWritable.c_str(), 0770);
    mkdir(theirs.c_str(), 0700);
    chown(theirs.c_str(), other.uid, other.gid);
    base.write("own/file", "");
    // A link owned by another user, pointing at a safe folder.
    std::string theirLink = base / "their-link";
    symlink(own.c_str(), theirLink.c_str());
    lchown(theirLink.c_str(), other.uid, other.gid);
    std::string ownLink = base / "own-link";
    symlink("own", ownLink.c_str());

    struct Case {
      std::string path;
      std::set<uid_t> trusted;
      std::string expected;
    };
    std::vector<Case> cases = {
        {own, {0, getuid()}, "ok"},
        {own + "/file", {0}, "ok"},
        {groupWritable, {0, getuid()}, refused(groupWritable)},
        {groupWritable + "/below", {0}, refused(groupWritable)},
        {theirs, {0}, refused(theirs)},
        {theirs, {0, other.uid}, "ok"},
        {theirLink, {0}, refused(theirLink)},
        {theirLink, {0, other.uid}, "ok"},
        {ownLink, {0}, "ok"},
        {base / "missing",
         {0},
         "stat(" + base / "missing" + "): " + strerror(ENOENT) + " (" + std::to_string(ENOENT) + ")"},
    };
    std::string out;
    for (const Case& c : cases) {
      std::string got = check(c.path, c.trusted);
      if (got != c.expected) out += c.path + ": got \"" + got + "\", expected \"" + c.expected + "\"\n";
    }

    // ensureSecurePath resolves first and trusts root alone.
    struct EnsureCase {
      std::string path;
      const char* description;
      std::string expected;
    };
    std::vector<EnsureCase> ensureCases = {
        {ownLink, "the settings", "ok " + own},
        {own + "/../own/file", nullptr, "ok " + own + "/file"},
        {theirLink, nullptr, "ok " + own},  // the resolved path holds no link of theirs
        {theirs, nullptr, refused(theirs)},
        {base / "absent", "the log folder", base / "absent" + " must be created and point to the log folder"},
    };
    for (const EnsureCase& c : ensureCases) {
      std::string got = ensure(c.path, c.description);
      if (got != c.expected) out += c.path + ": got \"" + got + "\", expected \"" + c.expected + "\"\n";
    }
    return out.empty() ? "all as expected" : out;
  });
  if (result.rfind("unshare: ", 0) == 0 || result.rfind("mount: ", 0) == 0)
    GTEST_SKIP() << "no private mount namespace here (" << result << ")";
  EXPECT_EQ(result, "all as expected");
}

TEST(PathSecurityDeathTest, RefusesARelativePath) {
  EXPECT_EXIT(plat::checkPathSecure("tmp/x", {0}), testing::KilledBySignal(SIGABRT),
              "Assertion 'path\\[0\\] == '/'' failed");
}

}  // namespace
