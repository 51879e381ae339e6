#include <gtest/gtest.h>

#include <string>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/PersistentStore.h"
#include "testing/FileFixtures.h"

namespace {

namespace fs = std::filesystem;

plat::Buffer bufferOf(const std::string& text) {
  return plat::Buffer(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

std::string textOf(const plat::Buffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(buffer.count()));
}

class PersistentStoreTest : public testing::Test {
 protected:
  yarl_test::TempDir tmp_;
  std::string dir_ = tmp_ / "store";
  os::PersistentStoreFile store_{dir_.c_str()};
};

TEST_F(PersistentStoreTest, WriteThenReadKeepsTheBytes) {
  struct Case {
    const char* key;
    std::string data;
  };
  const Case cases[] = {
      {"plain", "value"},
      {"a/b/c", "nested"},
      {"empty", ""},
      {"binary", std::string("\0\x01\xff\n", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    store_.write(c.key, bufferOf(c.data));
    EXPECT_EQ(yarl_test::readFile(dir_ + "/" + c.key), c.data);
    plat::Buffer out = bufferOf("stale");
    ASSERT_TRUE(store_.read(c.key, out));
    EXPECT_EQ(textOf(out), c.data);
  }
  // A rewrite replaces the whole file and leaves no temporary beside it.
  store_.write("plain", bufferOf("v2"));
  plat::Buffer out;
  ASSERT_TRUE(store_.read("plain", out));
  EXPECT_EQ(textOf(out), "v2");
  EXPECT_FALSE(fs::exists(dir_ + "/plain.tmp"));
}

TEST_F(PersistentStoreTest, ReadOfWhatCannotBeReadIsFalseAndEmpty) {
  store_.write("folder/key", bufferOf("x"));
  for (const char* key : {"missing", "missing/deeper", "folder"}) {
    SCOPED_TRACE(key);
    plat::Buffer out = bufferOf("stale");
    out.setSecure(true);
    EXPECT_FALSE(store_.read(key, out));
    EXPECT_EQ(out.count(), 0);
  }
}

TEST_F(PersistentStoreTest, RemoveDeletesTheKeyAndItsEmptyFolders) {
  store_.write("a/b/c", bufferOf("1"));
  store_.write("x/y/z", bufferOf("2"));
  store_.write("x/keep", bufferOf("3"));

  store_.remove("a/b/c");
  EXPECT_FALSE(fs::exists(dir_ + "/a"));

  // x still holds a key, so the walk stops there.
  store_.remove("x/y/z");
  EXPECT_FALSE(fs::exists(dir_ + "/x/y"));
  EXPECT_TRUE(fs::exists(dir_ + "/x/keep"));
  EXPECT_TRUE(fs::is_directory(dir_));
}

TEST_F(PersistentStoreTest, EmptyOrNullKeyRemovesTheWholeStore) {
  for (const char* key : {static_cast<const char*>(nullptr), ""}) {
    store_.write("a/b", bufferOf("1"));
    store_.write("top", bufferOf("2"));
    store_.remove(key);
    EXPECT_FALSE(fs::exists(dir_));
  }
  store_.remove(nullptr);  // nothing left to remove
}

TEST_F(PersistentStoreTest, AppStoresLiveInTheConfigurationDirectory) {
  // The default store is made once per process: build it in a child.
  std::string result = yarl_test::inChild([this] {
    os::setConfigBase(tmp_.c_str());
    os::setAppName("storeapp");
    os::PersistentStoreFile::defaultStore().write("k", bufferOf("default"));
    os::PersistentStoreFile other(os::PersistentStoreFile::ForApp{}, "otherapp");
    other.write("k", bufferOf("other"));
    return std::string(os::PersistentStoreFile::defaultStore().dir()) + "|" + other.dir();
  });
  EXPECT_EQ(result, tmp_ / "storeapp.d" + "|" + tmp_ / "otherapp.d");
  EXPECT_EQ(yarl_test::readFile(tmp_ / "storeapp.d/k"), "default");
  EXPECT_EQ(yarl_test::readFile(tmp_ / "otherapp.d/k"), "other");
}

}  // namespace
