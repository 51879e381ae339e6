#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "libs/score/ConnectionInfo.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace {

using score::ConnectionInfo;

std::string written(const ConnectionInfo& info) {
  rdr::MemOutStream out;
  info.write(out);
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length()));
}

// A record keyed by its third and fourth fields.
ConnectionInfo keyed(const char* third, const char* fourth, const char* first = "") {
  return ConnectionInfo(first, "b", third, fourth, "e", "f");
}

TEST(ConnectionInfoTest, WrittenAndReadBack) {
  EXPECT_EQ(written(ConnectionInfo()), std::string(6, '\0')) << "missing texts go as empty ones";
  EXPECT_EQ(written(ConnectionInfo("", "", "", "", "", "")), std::string(6, '\0'));

  const std::string longText(300, 'x');
  ConnectionInfo info("alice", "", longText.c_str(), "10.0.0.7::5900", "Standard user", "\xc3\xa9t\xc3\xa9");
  const std::string bytes = written(info);
  const std::string expected = std::string(
                                   "\x05"
                                   "alice") +
                               '\0' + "\xff" + std::string(255, 'x') +
                               "\x0e"
                               "10.0.0.7::5900" +
                               "\x0d"
                               "Standard user" +
                               "\x05\xc3\xa9t\xc3\xa9";
  EXPECT_EQ(bytes, expected);

  // Reading replaces every field, a missing one included.
  ConnectionInfo back("old", nullptr, "old", "old", "old", "old");
  rdr::MemInStream in(bytes.data(), static_cast<int32_t>(bytes.size()));
  back.read(in);
  EXPECT_EQ(back, ConnectionInfo("alice", "", longText.substr(0, 255).c_str(), "10.0.0.7::5900", "Standard user",
                                 "\xc3\xa9t\xc3\xa9"));
  EXPECT_EQ(in.nUnread(), 0);
}

TEST(ConnectionInfoTest, AMissingTextIsNotAnEmptyOne) {
  EXPECT_TRUE(score::sameText(plat::CharArray(), plat::CharArray()));
  EXPECT_TRUE(score::sameText(plat::CharArray("a"), plat::CharArray("a")));
  EXPECT_FALSE(score::sameText(plat::CharArray(), plat::CharArray("")));
  EXPECT_FALSE(score::sameText(plat::CharArray("a"), plat::CharArray("A")));
  EXPECT_FALSE(ConnectionInfo() == ConnectionInfo("", "", "", "", "", ""));

  // Moving hands the texts over and leaves the source's missing.
  ConnectionInfo source("a", "", "c", "d", "e", "f");
  ConnectionInfo moved(std::move(source));
  EXPECT_EQ(moved, ConnectionInfo("a", "", "c", "d", "e", "f"));
  EXPECT_EQ(source, ConnectionInfo());  // NOLINT(bugprone-use-after-move): the moved-from state is specified
  ConnectionInfo assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned, ConnectionInfo("a", "", "c", "d", "e", "f"));
  EXPECT_EQ(moved, ConnectionInfo());  // NOLINT(bugprone-use-after-move)
}

TEST(ConnectionInfoTest, FindAndRemoveTakesTheFirstRecordWithTheKeysThirdAndFourthFields) {
  struct Case {
    const char* name;
    ConnectionInfo key;
    int index;
    std::vector<std::string> left;  // first fields of what remains, in order
  };
  const Case cases[] = {
      {"middle, before an equal one", keyed("u2", "h2", "other"), 1, {"one", "three", "four"}},
      {"third differs", keyed("u9", "h2"), -1, {"one", "two", "three", "four"}},
      {"fourth differs", keyed("u2", "h9"), -1, {"one", "two", "three", "four"}},
      {"missing is not empty", keyed("u3", nullptr), -1, {"one", "two", "three", "four"}},
      {"empty matches empty", keyed("u3", ""), 2, {"one", "two", "four"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ConnectionInfo> list;
    list.push_back(keyed("u1", "h1", "one"));
    list.push_back(keyed("u2", "h2", "two"));
    list.push_back(keyed("u3", "", "three"));
    list.push_back(keyed("u2", "h2", "four"));
    EXPECT_EQ(score::findAndRemove(list, c.key), c.index);
    std::vector<std::string> left;
    for (const ConnectionInfo& info : list) left.push_back(info.fields[0].c_str());
    EXPECT_EQ(left, c.left);
  }
}

}  // namespace
