#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "qocore/base/plat/Resource.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::TempDir;

std::string resourceDir;
plat::CharArray testResourceDir() {
  return resourceDir.empty() ? plat::CharArray() : plat::CharArray(resourceDir.c_str());
}

// Points the resource folder at a temporary folder for the test.
class ResourceTest : public testing::Test {
 protected:
  void SetUp() override {
    resourceDir = dir_.path();
    previous_ = plat::resource_dir::set(&testResourceDir);
  }
  void TearDown() override { plat::resource_dir::set(previous_); }

  static std::string text(const plat::Resource& r) {
    return r.data ? std::string(reinterpret_cast<const char*>(r.data), r.size) : "<none>";
  }

  TempDir dir_;
  plat::resource_dir::DirFn previous_ = nullptr;
};

TEST_F(ResourceTest, FilesAreLoadedOnceAndKept) {
  std::string path = dir_.write("langs.txt", "en\nde\n");
  plat::Resource first = plat::getResource("langs.txt");
  EXPECT_EQ(text(first), "en\nde\n");
  EXPECT_EQ(first.data[first.size], 0) << "text resources end in a NUL";

  // Served from the cache from now on, even when the file changes or goes.
  unlink(path.c_str());
  plat::Resource again = plat::getResource("langs.txt");
  EXPECT_EQ(again.data, first.data);
  EXPECT_EQ(again.size, first.size);
}

TEST_F(ResourceTest, RegisteredResourcesComeFirstAndReplaceEntries) {
  static const char builtIn[] = "built-in";
  dir_.write("cacerts-test.pem", "from file");
  plat::registerResource("cacerts-test.pem", sizeof builtIn - 1, builtIn);
  plat::Resource r = plat::getResource("cacerts-test.pem");
  EXPECT_EQ(r.data, reinterpret_cast<const unsigned char*>(builtIn));
  EXPECT_EQ(text(r), "built-in");

  dir_.write("strings.xx.po", "loaded");
  EXPECT_EQ(text(plat::getResource("strings.xx.po")), "loaded");
  static const char replacement[] = "replaced";
  plat::registerResource("strings.xx.po", sizeof replacement - 1, replacement);
  EXPECT_EQ(text(plat::getResource("strings.xx.po")), "replaced");
}

TEST_F(ResourceTest, MissingResourcesAreEmpty) {
  EXPECT_EQ(text(plat::getResource("absent.png")), "<none>");
  dir_.write("late.txt", "x");
  resourceDir.clear();  // no resource folder at all
  EXPECT_EQ(text(plat::getResource("late.txt")), "<none>");
}

TEST(ResourceDir, DefaultsToResourcesBesideTheExecutable) {
  char exe[PATH_MAX];
  ASSERT_NE(realpath("/proc/self/exe", exe), nullptr);
  std::string expected = exe;
  expected = expected.substr(0, expected.rfind('/')) + "/Resources";
  EXPECT_STREQ(plat::resource_dir::get().get(), expected.c_str());
}

}  // namespace
