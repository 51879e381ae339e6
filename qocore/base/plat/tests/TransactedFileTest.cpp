#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/TransactedFile.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using plat::FilePtr;
using plat::TransactedFile;
using testing::StartsWith;
using yarl_test::readFile;
using yarl_test::TempDir;

class TransactedFileTest : public testing::Test {
 protected:
  void SetUp() override { savedMask_ = umask(022); }
  void TearDown() override { umask(savedMask_); }

  static void put(TransactedFile& file, const char* text) { ASSERT_GE(fputs(text, file.get()), 0); }

  // "regular", "link", "missing" or "other".
  static std::string kindOf(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "missing";
    if (S_ISREG(st.st_mode)) return "regular";
    if (S_ISLNK(st.st_mode)) return "link";
    return "other";
  }

  static mode_t modeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  TempDir dir_;
  mode_t savedMask_ = 0;
};

TEST_F(TransactedFileTest, CommitReplacesTheTargetWithTheRightMode) {
  struct Case {
    const char* name;
    mode_t existing;  // 0: no target before
    int flags;
    mode_t after;
  };
  for (const Case& c : std::vector<Case>{
           {"new", 0, 0, 0644},
           {"new-private", 0, FilePtr::kPrivate, 0600},
           {"keeps-0644", 0644, 0, 0644},
           {"keeps-0640", 0640, 0, 0640},
           {"private-narrows", 0664, FilePtr::kPrivate, 0600},
       }) {
    std::string target = dir_ / c.name;
    if (c.existing) dir_.write(c.name, "old contents", c.existing);
    {
      TransactedFile file(target.c_str(), c.flags);
      put(file, "new contents");
      EXPECT_EQ(readFile(target), c.existing ? "old contents" : "<missing>") << c.name << ": replaced before commit";
      EXPECT_EQ(kindOf(target + ".tmp"), "regular") << c.name;
      file.commit();
      EXPECT_EQ(file.tempName(), nullptr) << c.name;
      EXPECT_FALSE(file) << c.name;
      file.commit();  // nothing left to do
    }
    EXPECT_EQ(readFile(target), "new contents") << c.name;
    EXPECT_EQ(modeOf(target), c.after) << c.name;
    EXPECT_EQ(kindOf(target + ".tmp"), "missing") << c.name;
  }
}

TEST_F(TransactedFileTest, DestroyedWithoutCommitLeavesTheTargetAlone) {
  for (bool existing : {true, false}) {
    const char* name = existing ? "kept.conf" : "absent.conf";
    std::string target = dir_ / name;
    if (existing) dir_.write(name, "old contents");
    {
      TransactedFile file(target.c_str());
      put(file, "half written");
    }
    EXPECT_EQ(readFile(target), existing ? "old contents" : "<missing>") << existing;
    EXPECT_EQ(kindOf(target + ".tmp"), "missing") << existing;
  }
}

TEST_F(TransactedFileTest, WhateverSitsAtTheTemporaryNameIsRemovedNeverFollowed) {
  struct Case {
    const char* name;
    bool victimExists;  // the link points at an existing file
    bool link;          // false: a stale regular file
  };
  for (const Case& c : std::vector<Case>{
           {"stale-file", false, false},
           {"link-to-file", true, true},
           {"dangling-link", false, true},
       }) {
    std::string target = dir_ / c.name;
    std::string victim = dir_ / (std::string(c.name) + "-victim");
    if (c.victimExists) dir_.write(std::string(c.name) + "-victim", "precious", 0600);
    if (c.link) {
      ASSERT_EQ(symlink(victim.c_str(), (target + ".tmp").c_str()), 0);
    } else {
      dir_.write(std::string(c.name) + ".tmp", "left over from a crash");
    }
    {
      TransactedFile file(target.c_str());
      EXPECT_EQ(kindOf(target + ".tmp"), "regular") << c.name;
      put(file, "new contents");
      file.commit();
    }
    EXPECT_EQ(kindOf(target), "regular") << c.name;
    EXPECT_EQ(readFile(target), "new contents") << c.name;
    EXPECT_EQ(readFile(victim), c.victimExists ? "precious" : "<missing>") << c.name;
    if (c.victimExists) {
      EXPECT_EQ(modeOf(victim), 0600u) << c.name;
    }
    EXPECT_EQ(kindOf(target + ".tmp"), "missing") << c.name;
  }
}

TEST_F(TransactedFileTest, OpenFailureThrowsOrLeavesNoStream) {
  std::string target = dir_ / "missing/a.conf";
  try {
    TransactedFile file(target.c_str());
    ADD_FAILURE() << "opened in a missing folder";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOENT);
    EXPECT_THAT(e.str(), StartsWith("Error opening \"" + target + ".tmp\": "));
  }

  TransactedFile quiet(target.c_str(), FilePtr::kNoThrow);
  EXPECT_FALSE(quiet);
  EXPECT_EQ(quiet.tempName(), nullptr);
  quiet.commit();
  EXPECT_EQ(kindOf(target), "missing");
}

TEST_F(TransactedFileTest, FailedRenameKeepsTheTargetAndDropsTheTemporaryFile) {
  // A folder that is not empty cannot be renamed over.
  std::string target = dir_ / "folder";
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  dir_.write("folder/inside", "kept");
  {
    TransactedFile file(target.c_str());
    put(file, "new contents");
    try {
      file.commit();
      ADD_FAILURE() << "renamed over a folder";
    } catch (const plat::SystemException& e) {
      EXPECT_THAT(e.str(), StartsWith("fileRename(" + target + ".tmp," + target + ")"));
    }
  }
  EXPECT_EQ(readFile(target + "/inside"), "kept");
  EXPECT_EQ(kindOf(target + ".tmp"), "missing");
}

// A second writer of the same file replaces the temporary file under the
// first.  The first then neither commits the other's half-written file nor
// removes it when it gives up; the second commits its own.
TEST_F(TransactedFileTest, TwoWritersOnOneFileLeaveEachOthersTemporaryFileAlone) {
  for (bool firstCommits : {true, false}) {
    std::string target = dir_ / "shared.conf";
    dir_.write("shared.conf", "old contents");
    auto first = std::make_unique<TransactedFile>(target.c_str());
    put(*first, "first writer");
    TransactedFile second(target.c_str());
    put(second, "second writer");
    if (firstCommits) {
      try {
        first->commit();
        ADD_FAILURE() << "committed the other writer's file";
      } catch (const plat::Exception& e) {
        EXPECT_EQ(std::string(e.str()), "TransactedFile: \"" + target +
                                            ".tmp\" is no longer the file this writer opened; \"" + target +
                                            "\" left unchanged");
      }
      EXPECT_EQ(readFile(target), "old contents");
    }
    first.reset();
    EXPECT_EQ(kindOf(target + ".tmp"), "regular") << firstCommits;
    second.commit();
    EXPECT_EQ(readFile(target), "second writer") << firstCommits;
    EXPECT_EQ(kindOf(target + ".tmp"), "missing") << firstCommits;
  }
}

TEST_F(TransactedFileTest, PermissionCopyFailureIsLoggedAndTheWriteGoesOn) {
  yarl_test::LogCapture log("TransactedFile:capture:0");
  // A link to itself: stat fails with ELOOP rather than "not found".
  std::string target = dir_ / "loop";
  ASSERT_EQ(symlink(target.c_str(), target.c_str()), 0);
  {
    TransactedFile file(target.c_str());
    ASSERT_TRUE(file);
    put(file, "new contents");
    file.commit();
  }
  std::vector<yarl_test::LogRecord> logged = log.from("TransactedFile");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].level, plat::LogSrc::kError);
  EXPECT_THAT(logged[0].text, StartsWith("fileCopyPerms/stat(" + target + "): "));
  EXPECT_EQ(kindOf(target), "regular");
  EXPECT_EQ(readFile(target), "new contents");
}

}  // namespace
