#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/Exceptions.h"
#include "testing/FileFixtures.h"

namespace {

using testing::StartsWith;
using yarl_test::TempDir;

mode_t modeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

uid_t ownerOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

int openFdCount() {
  int count = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++count;
    closedir(d);
  }
  return count;
}

// A known umask, so that created modes are predictable.
class FileTest : public testing::Test {
 protected:
  void SetUp() override { savedMask_ = umask(022); }
  void TearDown() override { umask(savedMask_); }

  TempDir dir_;
  mode_t savedMask_ = 0;
};

TEST_F(FileTest, MkDirCreatesOrReportsAnExistingDirectory) {
  std::string plain = dir_ / "plain", priv = dir_ / "private";
  EXPECT_TRUE(plat::mkDir(plain.c_str()));
  EXPECT_TRUE(plat::mkDir(priv.c_str(), true));
  EXPECT_EQ(modeOf(plain), 0755u);
  EXPECT_EQ(modeOf(priv), 0700u);

  EXPECT_FALSE(plat::mkDir(plain.c_str()));
  EXPECT_FALSE(plat::mkDir(plain.c_str(), true, false));
  EXPECT_EQ(modeOf(plain), 0755u);
  EXPECT_FALSE(plat::mkDir(plain.c_str(), true, true));
  EXPECT_EQ(modeOf(plain), 0700u);
}

TEST_F(FileTest, MkDirsCreatesTheParentChainWithTheSamePrivacy) {
  EXPECT_TRUE(plat::mkDirs((dir_ / "a/b/c").c_str(), true));
  for (const char* sub : {"a", "a/b", "a/b/c"}) EXPECT_EQ(modeOf(dir_ / sub), 0700u) << sub;
  EXPECT_FALSE(plat::mkDirs((dir_ / "a/b/c").c_str()));
  EXPECT_TRUE(plat::mkDirs((dir_ / "a/x/y").c_str()));
  EXPECT_EQ(modeOf(dir_ / "a/x"), 0755u);
  EXPECT_TRUE(plat::isDirectory((dir_ / "a/x/y").c_str()));
}

TEST_F(FileTest, MkDirMatchParentTakesOwnerGroupAndMaskedModeOfTheParent) {
  yarl_test::User other = yarl_test::nobody();
  std::string parent = dir_ / "parent";
  ASSERT_EQ(mkdir(parent.c_str(), 0700), 0);
  ASSERT_EQ(chown(parent.c_str(), other.uid, other.gid), 0);
  ASSERT_EQ(chmod(parent.c_str(), 02775), 0);

  struct Case {
    const char* name;
    bool makePrivate;
    mode_t mode;
  };
  for (const Case& c : std::vector<Case>{{"shared", false, 02755}, {"private", true, 02700}}) {
    std::string path = parent + "/" + c.name;
    EXPECT_TRUE(plat::mkDirMatchParent(path.c_str(), c.makePrivate)) << c.name;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, other.uid) << c.name;
    EXPECT_EQ(st.st_gid, other.gid) << c.name;
    EXPECT_EQ(st.st_mode & 07777, c.mode) << c.name;
    EXPECT_FALSE(plat::mkDirMatchParent(path.c_str(), c.makePrivate)) << c.name;
  }
}

TEST_F(FileTest, RmDirRemovesContentsWithoutFollowingLinks) {
  TempDir outside;
  outside.write("keep", "x");
  std::string top = dir_ / "top";
  ASSERT_EQ(mkdir(top.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((top + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((top + "/sub/empty").c_str(), 0755), 0);
  dir_.write("top/file", "1");
  dir_.write("top/sub/file", "2");
  ASSERT_EQ(symlink(outside.c_str(), (top + "/outside").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (top + "/sub/dangling").c_str()), 0);

  try {
    plat::rmDir(top.c_str());
    ADD_FAILURE() << "removed a full directory";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOTEMPTY);
    EXPECT_THAT(e.str(), StartsWith("rmDir(" + top + "): "));
  }
  plat::rmDir(top.c_str(), true);
  EXPECT_FALSE(plat::pathExists(top.c_str()));
  EXPECT_EQ(yarl_test::readFile(outside / "keep"), "x");
}

// A link named as the folder to remove is refused, never followed: the
// folder it points at (which the caller may not own) keeps its contents.
TEST_F(FileTest, RmDirRefusesALinkAsTheFolderToRemove) {
  TempDir outside;
  outside.write("keep", "x");
  const std::string link = dir_ / "link";
  ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
  for (bool recursive : {false, true}) {
    SCOPED_TRACE(recursive);
    try {
      plat::rmDir(link.c_str(), recursive);
      ADD_FAILURE() << "removed through a link";
    } catch (const plat::SystemException& e) {
      EXPECT_EQ(e.error(), ENOTDIR);
      EXPECT_THAT(e.str(), StartsWith("rmDir(" + link + "): "));
    }
    EXPECT_EQ(yarl_test::readFile(outside / "keep"), "x");
    EXPECT_TRUE(plat::pathExists(link.c_str()));
  }
}

TEST_F(FileTest, ExistenceChecks) {
  std::string file = dir_.write("file", "");
  std::string loop = dir_ / "loop";
  ASSERT_EQ(symlink("loop", loop.c_str()), 0);
  ASSERT_EQ(symlink(dir_.c_str(), (dir_ / "dirlink").c_str()), 0);
  std::string tooLong = dir_ / std::string(300, 'n');

  struct Case {
    std::string path;
    const char* fileExists;  // "true", "false" or the errno it throws
    bool pathExists;
    bool isDirectory;
  };
  for (const Case& c : std::vector<Case>{
           {file, "true", true, false},
           {dir_ / "dirlink", "true", true, true},
           {dir_ / "missing", "false", false, false},
           {file + "/below", "false", false, false},  // ENOTDIR
           {loop, "ELOOP", false, false},
           {tooLong, "ENAMETOOLONG", false, false},
       }) {
    std::string exists;
    try {
      exists = plat::fileExists(c.path.c_str()) ? "true" : "false";
    } catch (const plat::SystemException& e) {
      exists = e.error() == ELOOP ? "ELOOP" : e.error() == ENAMETOOLONG ? "ENAMETOOLONG" : std::to_string(e.error());
      // A message longer than an exception holds is cut.
      EXPECT_THAT(e.str(), StartsWith(("fileExists(" + c.path + "): ").substr(0, 200)));
    }
    EXPECT_EQ(exists, c.fileExists) << c.path;
    EXPECT_EQ(plat::pathExists(c.path.c_str()), c.pathExists) << c.path;
    EXPECT_EQ(plat::isDirectory(c.path.c_str()), c.isDirectory) << c.path;
  }
}

TEST_F(FileTest, SizeAndTimesRoundTrip) {
  std::string file = dir_.write("file", "12345");
  EXPECT_EQ(plat::fileGetSize(file.c_str()), 5);

  // 2021-03-04T05:06:07.123456Z, and an instant before 1970 with a
  // fraction (the seconds round down, the microseconds stay positive).
  const plat::TimeValue modern = plat::unixToTime(1614834367) + 1'234'560;
  const plat::TimeValue old = plat::unixToTime(-86401) + 5'000'000;
  for (plat::TimeValue t : {modern, old}) {
    plat::fileSetTime(file.c_str(), t);
    EXPECT_EQ(plat::fileGetTime(file.c_str()), t);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(plat::timespecToTime(st.st_atim.tv_sec, st.st_atim.tv_nsec), t) << "access time follows";
  }
  plat::fileSetTime(file.c_str(), modern, old);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(plat::timespecToTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), modern);
  EXPECT_EQ(plat::timespecToTime(st.st_atim.tv_sec, st.st_atim.tv_nsec), old);
}

TEST_F(FileTest, FailuresNameTheCallAndThePath) {
  std::string missing = dir_ / "missing";
  std::string file = dir_.write("file", "x");
  std::string loop = dir_ / "loop";
  ASSERT_EQ(symlink("loop", loop.c_str()), 0);
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  FILE* pipeIn = fdopen(pipeFds[0], "r");
  FILE* readOnly = fopen(file.c_str(), "re");
  ASSERT_TRUE(pipeIn && readOnly);
  int fd = readOnly ? fileno(readOnly) : -1;
  const int closedFd = 999;

  struct Case {
    std::function<void()> call;
    std::string message;
    int error;
  };
  const char* m = missing.c_str();
  for (const Case& c : std::vector<Case>{
           {[&] { plat::mkDir(file.c_str()); }, "mkDir(" + file + ")", EEXIST},
           {[&] { plat::mkDirs((file + "/a/b").c_str()); }, "mkDir(" + file + "/a/b)", ENOTDIR},
           {[&] { plat::rmDir(m, true); }, "rmDir(" + missing + ")", ENOENT},
           {[&] { plat::chDir(m); }, "chDir(" + missing + ")", ENOENT},
           {[&] { plat::fileGetSize(m); }, "fileGetSize(" + missing + ")", ENOENT},
           {[&] { plat::fileGetTime(m); }, "fileGetTime(" + missing + ")", ENOENT},
           {[&] { plat::fileSetTime(m, plat::kUnixEpoch); }, "fileSetTime(" + missing + ")", ENOENT},
           {[&] { plat::fileRemove(m); }, "fileRemove(" + missing + ")", ENOENT},
           {[&] { plat::fileRename(m, file.c_str()); }, "fileRename(" + missing + "," + file + ")", ENOENT},
           {[&] { plat::fileOpenFd(m, O_RDONLY); }, "fileOpenFd(" + missing + ")", ENOENT},
           {[&] { plat::fileMakePrivate(-1, m); }, "fileMakePrivate/stat(" + missing + ")", ENOENT},
           {[&] { plat::fileMakePrivate(closedFd, m); }, "fileMakePrivate/fstat", EBADF},
           {[&] { plat::fileMakeSticky(m); }, "fileMakeSticky/stat(" + missing + ")", ENOENT},
           {[&] { plat::fileCopyPerms(loop.c_str(), fd); }, "fileCopyPerms/stat(" + loop + ")", ELOOP},
           {[&] { plat::fileIsSameAsFd(closedFd, file.c_str()); }, "fileIsSameAsFd/fstat", EBADF},
           {[&] { plat::fileIsSameAsFd(fd, loop.c_str()); }, "fileIsSameAsFd/stat(" + loop + ")", ELOOP},
           {[&] { (void)plat::fileLock(readOnly, false); }, "fileLock", EBADF},
           {[&] { plat::fileTruncate(readOnly, 0); }, "fileTruncate()", EINVAL},
           {[&] { plat::fileTell(pipeIn); }, "fileTell", ESPIPE},
           {[&] { plat::fileSeek(pipeIn, 0, SEEK_SET); }, "fileSeek", ESPIPE},
           {[&] { plat::fileGetSizeFp(pipeIn); }, "fileTell", ESPIPE},
       }) {
    try {
      c.call();
      ADD_FAILURE() << c.message << " did not throw";
    } catch (const plat::SystemException& e) {
      EXPECT_EQ(e.error(), c.error) << c.message;
      EXPECT_THAT(e.str(), StartsWith(c.message + ": ")) << c.message;
    }
  }

  // The bool forms report the same failures without throwing.
  EXPECT_FALSE(plat::chDir(m, std::nothrow));
  EXPECT_FALSE(plat::removeFile(m));
  EXPECT_FALSE(plat::fileRename(m, file.c_str(), std::nothrow));
  int64_t position = 0;
  EXPECT_FALSE(plat::fileTell(pipeIn, &position));
  EXPECT_FALSE(plat::fileSeek(pipeIn, 0, SEEK_SET, std::nothrow));
  EXPECT_EQ(plat::openCloexec(m, O_RDONLY), -1);

  fclose(pipeIn);
  close(pipeFds[1]);
  fclose(readOnly);
}

TEST_F(FileTest, MakePrivateTakesOwnershipAndDropsGroupAndOtherBits) {
  yarl_test::User other = yarl_test::nobody();
  struct Case {
    uid_t owner;
    mode_t mode;
    bool directory;
    mode_t expected;
  };
  int n = 0;
  for (bool byDescriptor : {false, true}) {
    for (const Case& c : std::vector<Case>{
             {other.uid, 0666, false, 0600},
             {0, 0640, false, 0600},
             {other.uid, 0700, false, 0700},
             {0, 0600, false, 0600},
             {other.uid, 02775, true, 02700},
         }) {
      std::string path = dir_ / ("f" + std::to_string(n++));
      if (c.directory)
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
      else
        dir_.write(path.substr(dir_.path().size() + 1), "x");
      ASSERT_EQ(chown(path.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
      if (byDescriptor) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        plat::fileMakePrivate(fd, "ignored");
        close(fd);
      } else {
        plat::fileMakePrivate(-1, path.c_str());
      }
      EXPECT_EQ(ownerOf(path), geteuid()) << path << (byDescriptor ? " by descriptor" : " by path");
      EXPECT_EQ(modeOf(path), c.expected) << path << (byDescriptor ? " by descriptor" : " by path");
    }
  }
}

TEST_F(FileTest, MakePrivateFailsForAnUnprivilegedUserOnAnotherUsersFile) {
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);  // reachable for the child
  std::string file = dir_.write("roots", "x", 0644);
  std::string result = yarl_test::inChild([&] {
    yarl_test::becomeUser(yarl_test::nobody());
    std::string out;
    try {
      plat::fileMakePrivate(-1, file.c_str());
      out += "path form succeeded\n";
    } catch (const plat::SystemException& e) {
      out += std::string(e.str()) + "\n";
    }
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    try {
      plat::fileMakePrivate(fd, nullptr);
      out += "descriptor form succeeded\n";
    } catch (const plat::SystemException& e) {
      out += std::string(e.str()) + "\n";
    }
    return out;
  });
  std::string denied = ": " + std::string(strerror(EPERM)) + " (" + std::to_string(EPERM) + ")\n";
  EXPECT_EQ(result, "fileMakePrivate/chown(" + file + ")" + denied + "fileMakePrivate/fchown" + denied);
  EXPECT_EQ(modeOf(file), 0644u);
}

TEST_F(FileTest, StickyBitAndCopiedPermissions) {
  std::string shared = dir_ / "shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  plat::fileMakeSticky(shared.c_str());
  EXPECT_EQ(modeOf(shared), 01755u);
  plat::fileMakeSticky(shared.c_str());
  EXPECT_EQ(modeOf(shared), 01755u);

  std::string source = dir_.write("source", "", 0640);
  std::string target = dir_.write("target", "", 0600);
  int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(plat::fileCopyPerms(source.c_str(), fd));
  EXPECT_EQ(modeOf(target), 0640u);
  EXPECT_FALSE(plat::fileCopyPerms((dir_ / "missing").c_str(), fd));
  EXPECT_FALSE(plat::fileCopyPerms((source + "/below").c_str(), fd));
  EXPECT_EQ(modeOf(target), 0640u);
  close(fd);
}

TEST_F(FileTest, IsSameAsFdComparesDeviceAndInode) {
  std::string file = dir_.write("file", "x");
  std::string other = dir_.write("other", "x");
  ASSERT_EQ(link(file.c_str(), (dir_ / "hard").c_str()), 0);
  ASSERT_EQ(symlink("file", (dir_ / "soft").c_str()), 0);
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct Case {
    std::string path;
    bool same;
  };
  for (const Case& c : std::vector<Case>{
           {file, true}, {dir_ / "hard", true}, {dir_ / "soft", true}, {other, false}, {dir_ / "missing", false}}) {
    EXPECT_EQ(plat::fileIsSameAsFd(fd, c.path.c_str()), c.same) << c.path;
  }
  close(fd);
}

TEST_F(FileTest, OpenedDescriptorsAreCloseOnExec) {
  std::string file = dir_.write("file", "x");
  auto cloexec = [](int fd) { return fd >= 0 && (fcntl(fd, F_GETFD) & FD_CLOEXEC); };
  int a = plat::openCloexec(file.c_str(), O_RDONLY);
  int b = plat::fileOpenFd(file.c_str(), O_RDONLY);
  FILE* fp = plat::fopenCloexec(file.c_str(), O_RDONLY, "r", 0);
  ASSERT_NE(fp, nullptr);
  EXPECT_TRUE(cloexec(a));
  EXPECT_TRUE(cloexec(b));
  EXPECT_TRUE(cloexec(fileno(fp)));
  close(a);
  close(b);
  fclose(fp);

  // A mode text that does not fit the flags: null, errno kept, nothing
  // left open.
  int before = openFdCount();
  errno = 0;
  EXPECT_EQ(plat::fopenCloexec(file.c_str(), O_RDONLY, "w", 0), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(openFdCount(), before);
}

TEST_F(FileTest, StreamReadSeekAndTruncate) {
  std::string file = dir_.write("data", "0123456789");
  FILE* fp = fopen(file.c_str(), "r+e");
  ASSERT_NE(fp, nullptr);
  char buf[100];
  EXPECT_EQ(plat::fileRead(fp, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(plat::fileRead(fp, buf, sizeof buf), 6);
  try {
    plat::fileRead(fp, buf, sizeof buf);
    ADD_FAILURE() << "read past the end";
  } catch (const rdr::EndOfStream& e) {
    EXPECT_STREQ(e.str(), "End of file");
  }

  EXPECT_EQ(plat::fileTell(fp), 10);
  plat::fileSeek(fp, 2, SEEK_SET);
  EXPECT_EQ(plat::fileGetSizeFp(fp), 10);
  EXPECT_EQ(plat::fileTell(fp), 2) << "the size is taken without moving";
  plat::fileTruncate(fp, 4);
  EXPECT_EQ(plat::fileGetSizeFp(fp), 4);
  fclose(fp);

  FILE* writeOnly = fopen(file.c_str(), "we");
  ASSERT_NE(writeOnly, nullptr);
  try {
    plat::fileRead(writeOnly, buf, 1);
    ADD_FAILURE() << "read from a write-only stream";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), EBADF);
    EXPECT_THAT(e.str(), StartsWith("reading from file failed: "));
  }
  fclose(writeOnly);
}

TEST_F(FileTest, LockIsRefusedWhileAnotherProcessHoldsItAndWaitedFor) {
  std::string file = dir_.write("lock", "");
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe2(toChild, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(toParent, O_CLOEXEC), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Holds the lock until told, then keeps it a little longer, so that
    // the parent's waiting call has something to wait for.
    FILE* fp = fopen(file.c_str(), "r+e");
    char c = fp && plat::fileLock(fp, false) ? 'L' : 'F';
    if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) _exit(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    plat::fileUnlock(fp);
    _exit(0);
  }
  close(toChild[0]);
  close(toParent[1]);
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'L');

  FILE* fp = fopen(file.c_str(), "r+e");
  ASSERT_NE(fp, nullptr);
  EXPECT_FALSE(plat::fileLock(fp, false));
  ASSERT_EQ(write(toChild[1], "U", 1), 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(plat::fileLock(fp, true));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  plat::fileUnlock(fp);
  fclose(fp);

  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(toChild[1]);
  close(toParent[0]);
}

}  // namespace
