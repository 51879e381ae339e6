#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <map>
#include <string>

#include "qocore/base/os/unix/DirEnum.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FileFixtures.h"

namespace {

// Name -> full path of every entry.
std::map<std::string, std::string> listAll(const std::string& path) {
  std::map<std::string, std::string> entries;
  os::DirEnum dir(path.c_str());
  while (const char* name = dir.next()) entries[name] = dir.path();
  return entries;
}

TEST(DirEnumTest, EmptyFolderEndsAtOnce) {
  yarl_test::TempDir tmp;
  os::DirEnum dir(tmp.c_str());
  EXPECT_EQ(dir.next(), nullptr);
  EXPECT_EQ(dir.next(), nullptr);
}

TEST(DirEnumTest, ListsEntriesWithFullPathsWhateverTheTrailingSlash) {
  yarl_test::TempDir tmp;
  tmp.write("a.txt", "1");
  tmp.write("longer-name.bin", "2");
  ASSERT_EQ(::mkdir((tmp / "sub").c_str(), 0700), 0);
  const std::map<std::string, std::string> expected = {
      {"a.txt", tmp / "a.txt"}, {"longer-name.bin", tmp / "longer-name.bin"}, {"sub", tmp / "sub"}};
  EXPECT_EQ(listAll(tmp.path()), expected);
  EXPECT_EQ(listAll(tmp.path() + "/"), expected);
}

TEST(DirEnumTest, MissingFolderThrowsWithItsPath) {
  yarl_test::TempDir tmp;
  std::string missing = tmp / "missing";
  try {
    os::DirEnum dir(missing.c_str());
    FAIL() << "nothing thrown";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOENT);
    EXPECT_EQ(std::string(e.str()).rfind("opendir(" + missing + ")", 0), 0u) << e.str();
  }
}

TEST(DirEnumTest, EmptyPathIsAnAssertion) {
  EXPECT_EXIT({ os::DirEnum dir(""); }, testing::KilledBySignal(SIGABRT), "Assertion 'dirLen > 0' failed");
}

}  // namespace
