#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Path.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::TempDir;

// "ok <path>" or "errno <n>", the same for both implementations.
std::string ours(const std::string& path) {
  try {
    return "ok " + std::string(plat::realPath(path.c_str(), path.c_str()).get());
  } catch (const plat::SystemException& e) {
    return "errno " + std::to_string(e.error());
  }
}

std::string libc(const std::string& path) {
  char out[PATH_MAX];
  if (realpath(path.c_str(), out)) return "ok " + std::string(out);
  return "errno " + std::to_string(errno);
}

// A small tree with links placed at random: folders a, a/b and c, files
// a/f and c/g, and links l0..l5 whose targets are absolute or relative and
// name folders, files, other links, themselves, or nothing at all.  Every
// target ends in at most one link, so a path that does not loop follows at
// most six links per component: well inside both implementations' limits.
class RandomTree {
 public:
  RandomTree(const TempDir& root, std::mt19937& rng) : root_(root.path()) {
    mkdir((root_ + "/a").c_str(), 0755);
    mkdir((root_ + "/a/b").c_str(), 0755);
    mkdir((root_ + "/c").c_str(), 0755);
    root.write("a/f", "f");
    root.write("c/g", "g");
    static const std::vector<std::string> kDirs = {"", "a", "a/b", "c"};
    std::vector<std::string> nodes = {"a", "a/b", "c", "a/f", "c/g", "a/missing"};
    std::vector<std::string> linkDirs;
    for (int i = 0; i < 6; ++i) {
      linkDirs.push_back(pick(kDirs, rng));
      nodes.push_back((linkDirs.back().empty() ? "" : linkDirs.back() + "/") + "l" + std::to_string(i));
    }
    for (int i = 0; i < 6; ++i) {
      const std::string& dir = linkDirs[i];
      const std::string& node = pick(nodes, rng);
      std::string target;
      if (rng() % 3 == 0) {
        target = root_ + "/" + node;
      } else if (!dir.empty() && node.rfind(dir + "/", 0) == 0) {
        target = node.substr(dir.size() + 1);  // below the link's own folder
      } else {
        // Up to the root of the tree, then down.
        for (int up = dir.empty() ? 0 : 1 + std::count(dir.begin(), dir.end(), '/'); up > 0; --up) target += "../";
        target += node;
      }
      symlink(target.c_str(), (root_ + "/" + nodes[6 + i]).c_str());
    }
  }

  // An absolute, normalised path of one to four components, mostly
  // names that exist where they stand (found by listing each folder on the
  // way), now and then one that does not.
  std::string randomPath(std::mt19937& rng) const {
    std::string path = root_;
    for (int n = 1 + rng() % 4; n > 0; --n) {
      std::vector<std::string> names;
      if (DIR* d = opendir(path.c_str())) {
        while (const dirent* e = readdir(d))
          if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        closedir(d);
      }
      names.emplace_back("missing");
      if (rng() % 8 == 0) names = kNames;
      std::sort(names.begin(), names.end());  // readdir's order is not ours to depend on
      path += "/" + pick(names, rng);
    }
    return path;
  }

 private:
  static std::string pick(const std::vector<std::string>& from, std::mt19937& rng) { return from[rng() % from.size()]; }

  inline static const std::vector<std::string> kNames = {"a",  "b",  "c",  "f",  "g",  "l0",
                                                         "l1", "l2", "l3", "l4", "l5", "missing"};
  std::string root_;
};

TEST(RealPath, AgreesWithTheCLibraryOnRandomTrees) {
  std::mt19937 rng(20240229);
  int resolvedThroughLinks = 0;
  for (int tree = 0; tree < 40; ++tree) {
    TempDir root;
    RandomTree t(root, rng);
    for (int i = 0; i < 100; ++i) {
      std::string path = t.randomPath(rng);
      std::string expected = libc(path);
      ASSERT_EQ(ours(path), expected) << "tree " << tree << " path " << path;
      if (expected != "ok " + path && expected.rfind("ok ", 0) == 0) ++resolvedThroughLinks;
    }
  }
  // The comparison is only worth something if links were actually taken.
  EXPECT_GT(resolvedThroughLinks, 200);
}

TEST(RealPath, GivesUpAfterThirtyTwoLinksInARow) {
  struct Case {
    int links;
    const char* outcome;
  };
  for (const Case& c : std::vector<Case>{{32, "resolved"}, {33, "ELOOP"}}) {
    TempDir root;
    mkdir((root / "end").c_str(), 0755);
    // l0 -> l1 -> ... -> l(n-1) -> end
    for (int i = 0; i < c.links; ++i) {
      std::string target = i + 1 == c.links ? "end" : "l" + std::to_string(i + 1);
      ASSERT_EQ(symlink(target.c_str(), (root / ("l" + std::to_string(i))).c_str()), 0);
    }
    std::string start = root / "l0";
    if (std::string(c.outcome) == "resolved") {
      EXPECT_EQ(plat::realPath("shown", start.c_str()).get(), root / "end");
      EXPECT_EQ(libc(start), "ok " + (root / "end"));
      continue;
    }
    try {
      plat::realPath("shown", start.c_str());
      ADD_FAILURE() << c.links << " links resolved";
    } catch (const plat::SystemException& e) {
      EXPECT_EQ(e.error(), ELOOP);
      EXPECT_THAT(e.str(), testing::StartsWith("realpath(shown): "));
    }
  }
}

TEST(RealPath, ReadsLinkTargetsOfTheLongestLength) {
  TempDir root;
  root.write("file5", "");
  // "./././.../file5", 4095 bytes: as long as a link target can be.
  std::string target;
  for (int i = 0; i < 2045; ++i) target += "./";
  target += "file5";
  ASSERT_EQ(target.size(), 4095u);
  ASSERT_EQ(symlink(target.c_str(), (root / "long").c_str()), 0);
  EXPECT_EQ(plat::realPath("long", (root / "long").c_str()).get(), root / "file5");
}

TEST(RealPath, ReturnsALinkFreePathAsGiven) {
  TempDir root;
  mkdir((root / "a").c_str(), 0755);
  root.write("a/file", "");
  for (const std::string& path : {root / "a/file", root.path() + "//a/./file", root.path() + "/a/../a/file"}) {
    EXPECT_EQ(plat::realPath("p", path.c_str()).get(), path);
  }
}

TEST(RealPath, ErrorsNameTheDisplayPath) {
  TempDir root;
  root.write("file", "");
  struct Case {
    std::string path;
    int error;
  };
  for (const Case& c : std::vector<Case>{{root / "missing/x", ENOENT}, {root / "file/x", ENOTDIR}}) {
    try {
      plat::realPath("the path", c.path.c_str());
      ADD_FAILURE() << c.path << " resolved";
    } catch (const plat::SystemException& e) {
      EXPECT_EQ(e.error(), c.error) << c.path;
      EXPECT_THAT(e.str(), testing::StartsWith("realpath(the path): ")) << c.path;
    }
  }
}

TEST(RealPathDeathTest, RefusesARelativePath) {
  EXPECT_EXIT(plat::realPath("a/b", "a/b"), testing::KilledBySignal(SIGABRT), "Assertion 'path\\[0\\] == '/'' failed");
}

}  // namespace
