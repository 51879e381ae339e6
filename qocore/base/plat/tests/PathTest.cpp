#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Path.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::TempDir;

struct TextCase {
  const char* in;
  const char* out;
};

TEST(Path, NormalisePath) {
  for (const TextCase& c : std::vector<TextCase>{
           {"a//b/./c/../", "a/b"},
           {"../a", "../a"},
           {"../a/../../b", "../../b"},
           {"a/..", "."},
           {"a/../..", ".."},
           {"/..", "/"},
           {"/../a/./b/..", "/a"},
           {"/a/b/../../..", "/"},
           {"", "."},
           {".", "."},
           {"./", "."},
           {"/", "/"},
           {"///", "/"},
           {"//a//", "/a"},
           {"a/.../b", "a/.../b"},
       }) {
    EXPECT_STREQ(plat::normalisePath(c.in).get(), c.out) << '"' << c.in << '"';
  }
}

TEST(Path, DirName) {
  for (const TextCase& c : std::vector<TextCase>{
           {"a", "."},
           {"/a", "/"},
           {"/", "/"},
           {".", ".."},
           {"", ".."},
           {"..", "../.."},
           {"../..", "../../.."},
           {"a/../..", "../.."},
           {"a/b/", "a"},
           {"/a//b/./", "/a"},
           {"a/b/..", "."},
       }) {
    EXPECT_STREQ(plat::dirName(c.in).get(), c.out) << '"' << c.in << '"';
  }
}

TEST(Path, BaseName) {
  struct Case {
    const char* path;
    const char* suffix;
    const char* out;
  };
  for (const Case& c : std::vector<Case>{
           {"/a/b.txt", nullptr, "b.txt"},
           {"/a/b.txt", ".TXT", "b"},
           {"a/b/", nullptr, "b"},
           {"x.tar.gz", ".gz", "x.tar"},
           {".txt", ".txt", ".txt"},  // not longer than the suffix
           {"b.txt", ".log", "b.txt"},
           {"..", nullptr, "."},
           {"/", nullptr, "/"},
           {"/..", nullptr, "/"},
           {"", nullptr, "."},
       }) {
    EXPECT_STREQ(plat::baseName(c.path, c.suffix).get(), c.out) << '"' << c.path << '"';
  }
}

TEST(Path, JoinPath) {
  struct Case {
    const char* dir;
    const char* name;
    bool keepAbsolute;
    const char* out;
  };
  for (const Case& c : std::vector<Case>{
           {"a", "b", false, "a/b"},
           {"a/", "b", false, "a/b"},
           {"/", "b", false, "/b"},
           {"a", "/b", true, "/b"},
           {"a", "/b", false, "a//b"},
           {"a", "b/c", true, "a/b/c"},
       }) {
    plat::CharArray out("old");
    plat::joinPath(out, c.dir, c.name, c.keepAbsolute);
    EXPECT_STREQ(out.get(), c.out) << c.dir << " + " << c.name;
  }
}

TEST(Path, MakeSafeNameReplacesControlsDelAndSlash) {
  EXPECT_STREQ(plat::makeSafeName("a/b\tc\x7f"
                                  "d\x01\xC3\xA9.txt",
                                  '_')
                   .get(),
               "a_b_c_d_\xC3\xA9.txt");
}

TEST(Path, ReservedNamePrefix) {
  struct Case {
    const char* name;
    int length;
  };
  for (const Case& c : std::vector<Case>{
           {"CON", 3},
           {"con.txt", 3},
           {"Nul.", 3},
           {"aux.log.1", 3},
           {"COM1", 4},
           {"lpt9.x", 4},
           {"CONSOLE", 0},
           {"COM10", 0},
           {"COM0", 0},
           {"LPT", 0},
           {"xCON", 0},
           {"", 0},
           {"prn", 3},
           {"com9.a", 4},
           {"PRN-file", 0},
       }) {
    EXPECT_EQ(plat::reservedNamePrefix(c.name), c.length) << c.name;
  }
}

class UniqueName : public testing::Test {
 protected:
  std::string unique(const char* name, int limit = 99) {
    return plat::makeUniqueName(dir_.c_str(), name, "(", ")", limit).get();
  }
  TempDir dir_;
};

TEST_F(UniqueName, NumbersFollowTheStemAndKeepTheExtension) {
  EXPECT_EQ(unique("report.log"), dir_ / "report.log");
  dir_.write("report.log", "");
  dir_.write("report(1).log", "");
  EXPECT_EQ(unique("report.log"), dir_ / "report(2).log");

  dir_.write("notes", "");
  EXPECT_EQ(unique("notes"), dir_ / "notes(1)");

  dir_.write("x.tar.gz", "");
  EXPECT_EQ(unique("x.tar.gz"), dir_ / "x.tar(1).gz");

  // The name is made safe before anything else.
  dir_.write("a-b.txt", "");
  EXPECT_EQ(unique("a/b.txt"), dir_ / "a-b(1).txt");
}

TEST_F(UniqueName, RefusesWhenNoNameIsFree) {
  dir_.write("busy.log", "");
  dir_.write("busy(1).log", "");
  struct Case {
    const char* name;
    int limit;
  };
  for (const Case& c : std::vector<Case>{{"busy.log", 1}, {"busy.log", 0}, {"free.log", -1}}) {
    try {
      plat::makeUniqueName(dir_.c_str(), c.name, "(", ")", c.limit);
      ADD_FAILURE() << c.name << " limit " << c.limit << " did not throw";
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), "Too many files with same name");
    }
  }
  EXPECT_EQ(unique("busy.log", 2), dir_ / "busy(2).log");
  EXPECT_EQ(unique("free.log", 0), dir_ / "free.log");
}

TEST(Path, FindFileInDirsTakesTheFirstDirectoryHoldingTheName) {
  TempDir first, second, third;
  second.write("tool", "");
  third.write("tool", "");
  std::string missing = first / "missing";
  EXPECT_EQ(plat::findFileInDirs("tool", {missing.c_str(), first.c_str(), second.c_str(), third.c_str()}).get(),
            second / "tool");
  EXPECT_TRUE(plat::findFileInDirs("other", {first.c_str(), second.c_str()}).isNull());
}

// Runs with the current directory set to dir and restores it afterwards.
class InDirectory : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr); }
  void TearDown() override { ASSERT_EQ(chdir(saved_), 0); }
  char saved_[4096];
};

TEST_F(InDirectory, GetCwdGrowsItsBufferForLongPaths) {
  TempDir dir;
  // Nest far beyond the first 1024-byte attempt.
  std::string deep = dir.path();
  ASSERT_EQ(chdir(deep.c_str()), 0);
  std::string component(200, 'd');
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(mkdir(component.c_str(), 0700), 0);
    ASSERT_EQ(chdir(component.c_str()), 0);
    deep += "/" + component;
  }
  EXPECT_EQ(plat::getCwd().get(), deep);
}

TEST_F(InDirectory, AbsolutePathJoinsTheCurrentDirectoryAndResolvesLinks) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "real").c_str(), 0700), 0);
  dir.write("real/file", "");
  ASSERT_EQ(symlink("real", (dir / "link").c_str()), 0);
  ASSERT_EQ(chdir(dir.c_str()), 0);

  EXPECT_EQ(plat::absolutePath("link/./file").get(), dir / "real/file");
  EXPECT_EQ(plat::absolutePath("real/../link/").get(), dir / "real");
  EXPECT_EQ(plat::absolutePath((dir.path() + "//link/file").c_str()).get(), dir / "real/file");
  try {
    plat::absolutePath("link/missing");
    ADD_FAILURE() << "no exception";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOENT);
    EXPECT_EQ(std::string(e.str()).rfind("realpath(link/missing): ", 0), 0u) << e.str();
  }
}

}  // namespace
