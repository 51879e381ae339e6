#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/IoFromFd.h"
#include "qocore/base/os/tests/ChannelFixture.h"
#include "qocore/base/os/tests/ChildHelpers.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using os::NamedPipeListener;
using yarl_test::failureOf;

// Collects accepted connections (and shuts them down at the end).
struct Accepted : io::IoAcceptor {
  ~Accepted() override {
    for (io::Io* io : ios) io->shutdown(false, false);
  }
  void acceptIo(io::Io* io) override { ios.push_back(io); }
  std::vector<io::Io*> ios;
};

// Ends a connection that never got a handler.
void end(io::Io* io) { io->shutdown(false, false); }

NamedPipeListener::Options privateChannel() {
  NamedPipeListener::Options options;
  options.createDirectory = true;
  options.makePrivate = true;
  return options;
}

class LocalChannelTest : public os_test::ChannelTest {
 protected:
  std::string channelDir(uid_t uid) const { return tmp_ / (".yarl-" + std::to_string(uid)); }
};

TEST_F(LocalChannelTest, UniqueNames) {
  std::string dir = channelDir(::geteuid());
  std::string pid = std::to_string(::getpid());
  struct Case {
    const char* user;
    const char* prefix;
    int64_t number;
    int index;
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0, -1, dir + "/vuzovu.SetupComms"},
      {nullptr, nullptr, 0, 0, dir + "/vuzovu.SetupComms"},
      {nullptr, nullptr, 0, 2, dir + "/vuzovu.SetupComms.0.2"},
      {nullptr, nullptr, 812, -1, dir + "/vuzovu.SetupComms.812"},
      {nullptr, nullptr, 812, 0, dir + "/vuzovu.SetupComms.812.0"},
      {nullptr, nullptr, -1, -1, dir + "/vuzovu.SetupComms." + pid},
      {nullptr, "pfx", 0, -1, dir + "/pfx.SetupComms"},
      {"501", nullptr, 0, -1, tmp_ / ".yarl-501/vuzovu.SetupComms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(os::makeUniqueName("SetupComms", c.user, c.prefix, c.number, c.index).c_str(), c.expected);
  }
  // The caller's own folder is made private; another user's is not made.
  struct stat info {};
  ASSERT_EQ(::lstat(dir.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  EXPECT_NE(::access((tmp_ / ".yarl-501").c_str(), F_OK), 0);
}

TEST_F(LocalChannelTest, ChannelNamesAndFolderNames) {
  struct Case {
    const char* file;
    const char* name;
    const char* prefix;
    bool matches;
  };
  const Case cases[] = {
      {"vuzovuvivovevada.MuiComms.812", "MuiComms", "vuzovuvivovevada", true},
      {"vuzovuvivovevada.MuiComms.812", "SetupComms", "vuzovuvivovevada", false},
      {"vuzovuvivovevada.MuiComms.812", "MuiComms", "other", false},
      {"vuzovuvivovevada.MuiComms.812", nullptr, nullptr, true},
      {"vuzovuvivovevada", "MuiComms", nullptr, false},
      {"vuzovuvivovevada", nullptr, "vuzovuvivovevada", true},
      {"x.SetupComms", "SetupComms", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + (c.name ? c.name : "-") + " " + (c.prefix ? c.prefix : "-"));
    EXPECT_EQ(os::channelNameMatches(c.file, c.name, c.prefix), c.matches);
  }
  EXPECT_STREQ(os::userOfTempDirName(".yarl-501").get(), "501");
  EXPECT_TRUE(os::userOfTempDirName(".other-501").isNull());
  EXPECT_TRUE(os::userOfTempDirName("yarl-501").isNull());
  EXPECT_EQ(os::parseUid("65534"), 65534u);
  EXPECT_EQ(os::parseUid(nullptr), ::geteuid());
  EXPECT_EQ(failureOf<plat::BadNum>([] { (void)os::parseUid("12x"); }), "uid not a 32-bit number");
}

TEST_F(LocalChannelTest, ASecondListenerIsRefusedAndAStaleFileReplaced) {
  std::string path = os::makeUniqueName("SetupComms", nullptr, nullptr, 0, -1).c_str();
  {
    NamedPipeListener first(path.c_str(), privateChannel());
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u | S_ISVTX);
    try {
      NamedPipeListener second(path.c_str(), privateChannel());
      ADD_FAILURE() << "second listener made";
    } catch (const plat::SystemException& e) {
      EXPECT_STREQ(e.str(), "name already bound: Address already in use (98)");
      EXPECT_EQ(e.error(), EADDRINUSE);
    }
    EXPECT_TRUE(os::UnixIo::isBound(path.c_str(), false));
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "the listener removes its file";

  // A file left by a listener that is gone.
  {
    plat::UniqueFd stale(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  EXPECT_FALSE(os::UnixIo::isBound(path.c_str(), false));
  NamedPipeListener listener(path.c_str(), privateChannel());
  Accepted accepted;
  listener.setAcceptor(&accepted);
  auto* client = new os::UnixIo(path.c_str(), -1);
  ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return !accepted.ios.empty(); }));
  std::string uid = std::to_string(::geteuid());
  EXPECT_EQ(client->displayName().c_str(), "<unix-client-" + path + "-uid-" + uid + ">");
  EXPECT_EQ(accepted.ios[0]->displayName().c_str(), "<unix-server-" + path + "-uid-" + uid + ">");
  EXPECT_EQ(client->flags().count("secureTransport"), 1u);
  std::string peer = client->peerEndpoint().c_str();
  EXPECT_EQ(peer.rfind("[unix:/", 0), 0u) << peer;
  EXPECT_EQ(peer.substr(peer.size() - 18), "vuzovu.SetupComms]") << peer;
  end(client);
}

TEST_F(LocalChannelTest, ThePathMayTakeTheWholeAddressButItsNul) {
  // The folder itself has a path of some length; the name makes up the rest.
  const size_t limit = sizeof(sockaddr_un::sun_path);
  std::string dir = tmp_ / "d";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  auto pathOf = [&](size_t length) { return dir + "/" + std::string(length - dir.size() - 1, 'n'); };

  std::string longest = pathOf(limit - 1);
  NamedPipeListener listener(longest.c_str(), {});
  EXPECT_TRUE(os::UnixIo::isBound(longest.c_str(), false));

  std::string tooLong = pathOf(limit);
  NamedPipeListener::Options skip;
  skip.skipBoundCheck = true;
  EXPECT_EQ(failureOf<plat::SystemException>([&] { NamedPipeListener l(tooLong.c_str(), skip); }),
            "NamedPipeListener: File name too long (36)");
  EXPECT_EQ(failureOf<plat::SystemException>([&] { os::UnixIo io(tooLong.c_str(), -1); }),
            "UnixIo: File name too long (36)");
}

TEST_F(LocalChannelTest, TheRefreshRecreatesADeletedFile) {
  ASSERT_TRUE(os::unixSocketRefreshInterval.setParam("0", 1000));
  std::string path = os::makeUniqueName("MuiComms", nullptr, nullptr, 7, -1).c_str();
  NamedPipeListener listener(path.c_str(), privateChannel());
  os::unixSocketRefreshInterval.unsetParam(1000);
  Accepted accepted;
  listener.setAcceptor(&accepted);
  ASSERT_EQ(::unlink(path.c_str()), 0);
  ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return ::access(path.c_str(), F_OK) == 0; }));
  auto* client = new os::UnixIo(path.c_str(), -1);
  EXPECT_TRUE(os_test::turnUntil(loop_, [&] { return !accepted.ios.empty(); }));
  end(client);
}

TEST_F(LocalChannelTest, CredCheckRefusesAPeerOfAnotherUser) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to start an unprivileged listener";
  yarl_test::User nobody = yarl_test::nobody();
  int ready[2], done[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(done, O_CLOEXEC), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    ::close(done[1]);
    std::string report = "error";
    try {
      yarl_test::becomeUser(nobody);
      io::FdSelectManager loop(true);
      plat::CharArray path = os::makeUniqueName("CtrlComms", nullptr, nullptr, 0, -1);
      NamedPipeListener listener(path.get(), privateChannel());
      report = path.get();
      ssize_t ignored = ::write(ready[1], report.data(), report.size());
      (void)ignored;
      ::close(ready[1]);
      char byte;
      while (::read(done[0], &byte, 1) < 0 && errno == EINTR) {
      }
    } catch (const plat::Exception& e) {
      ssize_t ignored = ::write(ready[1], e.str(), std::strlen(e.str()));
      (void)ignored;
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(done[0]);
  plat::UniqueFd letGo(done[1]);
  std::string path = os_test::readAll(ready[0]);
  ::close(ready[0]);
  EXPECT_EQ(path, os::makeUniqueName("CtrlComms", std::to_string(nobody.uid).c_str(), nullptr, 0, -1).c_str());

  auto* client = new os::UnixIo(path.c_str(), -1);
  EXPECT_EQ(client->getPeerEuid(), nobody.uid);
  EXPECT_EQ(failureOf<plat::Exception>([&] { client->credCheck(0); }), "namedPipeCredCheck: uid mismatch");
  EXPECT_EQ(failureOf<plat::Exception>([&] { client->credCheck(nobody.uid); }), "(nothing thrown)");
  end(client);
  letGo.reset();
  os_test::reap(pid);
}

TEST_F(LocalChannelTest, AFolderThatIsNotTheOwnersIsRefusedUntouched) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to make a channel for another user";
  yarl_test::User nobody = yarl_test::nobody();
  std::string victim = tmp_ / "victim";
  ASSERT_EQ(::mkdir(victim.c_str(), 0755), 0);
  std::string folder = channelDir(nobody.uid);
  std::string path = folder + "/vuzovu.SetupComms";
  NamedPipeListener::Options forNobody = privateChannel();
  forNobody.owner = nobody.uid;

  // The user plants a link where root will make the channel's folder.
  std::string planted = yarl_test::inChild([&] {
    yarl_test::becomeUser(nobody);
    return std::string(::symlink(victim.c_str(), folder.c_str()) == 0 ? "planted" : strerror(errno));
  });
  ASSERT_EQ(planted, "planted");
  EXPECT_EQ(failureOf<plat::SystemException>([&] { NamedPipeListener l(path.c_str(), forNobody); }),
            "Unsafe channel folder " + folder + ": Not a directory (20)");
  struct stat info {};
  ASSERT_EQ(::stat(victim.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_EQ(info.st_uid, 0u);
  EXPECT_NE(::access((victim + "/vuzovu.SetupComms").c_str(), F_OK), 0);
  ASSERT_EQ(::unlink(folder.c_str()), 0);

  // A folder of a third user is refused; one of root's is handed over.
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(::chown(folder.c_str(), 12345, 12345), 0);
  EXPECT_EQ(failureOf<plat::SystemException>([&] { NamedPipeListener l(path.c_str(), forNobody); }),
            "Unsafe channel folder " + folder + ": Operation not permitted (1)");
  ASSERT_EQ(::chown(folder.c_str(), 0, 0), 0);
  {
    NamedPipeListener listener(path.c_str(), forNobody);
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, nobody.uid);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, nobody.uid);
  }

  // The caller's own folder: a link there is refused as well.
  std::string own = channelDir(0);
  ASSERT_EQ(::symlink(victim.c_str(), own.c_str()), 0);
  EXPECT_EQ(failureOf<plat::SystemException>([] { (void)os::getUserTempPath(nullptr); }),
            "Unsafe channel folder " + own + ": Not a directory (20)");
  ASSERT_EQ(::stat(victim.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
}

TEST_F(LocalChannelTest, StaleChannelsAreCleanedUp) {
  std::string dir = os::getUserTempPath(nullptr).c_str();
  NamedPipeListener live((dir + "/vuzovu.SetupComms.1").c_str(), {});
  std::vector<std::string> files = {"vuzovu.SetupComms", "vuzovu.MuiComms.5"};
  for (const std::string& name : files) {
    int fd = ::open((dir + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  os::cleanupStaleChannels("SetupComms", nullptr);
  EXPECT_NE(::access((dir + "/vuzovu.SetupComms").c_str(), F_OK), 0);
  EXPECT_EQ(::access((dir + "/vuzovu.SetupComms.1").c_str(), F_OK), 0);
  EXPECT_EQ(::access((dir + "/vuzovu.MuiComms.5").c_str(), F_OK), 0);
}

TEST_F(LocalChannelTest, IoFromFdChoosesTheConnectionKind) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  io::Io* unix = os::ioFromFd(sv[0]);
  EXPECT_EQ(unix->displayName().c_str(), "<unix-server-anon-uid-" + std::to_string(::geteuid()) + ">");
  EXPECT_EQ(unix->flags().count("secureTransport"), 1u);
  EXPECT_NE(::fcntl(sv[0], F_GETFD) & FD_CLOEXEC, 0);
  end(unix);
  ::close(sv[1]);

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  io::Io* plain = os::ioFromFd(fds[0]);
  EXPECT_EQ(plain->displayName().c_str(), "<fd" + std::to_string(fds[0]) + ">");
  end(plain);
  ::close(fds[1]);
}

}  // namespace
