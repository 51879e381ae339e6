#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/xml/Parser.h"
#include "qocore/base/xml/tests/TreeDump.h"
#include "testing/FileFixtures.h"

namespace xml {
namespace {

using testing::dump;
using testing::OptionsGuard;

class FileParseTest : public ::testing::Test {
 protected:
  std::string write(const char* name, const std::string& content) { return dir_.write(name, content); }

  // Runs openFile in a child and returns its exit status and its stderr.
  std::pair<int, std::string> openInChild(const std::string& path, const char* tag) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      Node n = openFile(path.c_str(), tag);
      _exit(n.isEmpty() ? 1 : 0);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }

  yarl_test::TempDir dir_;
  OptionsGuard guard_;
};

TEST_F(FileParseTest, ParseFileSkipsByteOrderMarkAndReportsFiles) {
  ParseResults r;
  Node n = parseFile(write("bom.xml", "\xEF\xBB\xBF<cfg><v/></cfg>").c_str(), "cfg", &r);
  EXPECT_EQ(r.error, kNoError);
  EXPECT_EQ(dump(n), "cfg(v)");

  EXPECT_TRUE(parseFile((dir_ / "absent.xml").c_str(), nullptr, &r).isEmpty());
  EXPECT_EQ(r.error, kFileNotFound);
  EXPECT_TRUE(parseFile(dir_.c_str(), nullptr, &r).isEmpty());
  EXPECT_EQ(r.error, kFileNotFound);
  EXPECT_TRUE(parseFile(write("empty.xml", "").c_str(), nullptr, &r).isEmpty());
  EXPECT_EQ(r.error, kNoData);
  EXPECT_EQ(r.line, 0);

  // Parse errors come through with their place.
  EXPECT_TRUE(parseFile(write("bad.xml", "<a>\n</b>").c_str(), nullptr, &r).isEmpty());
  EXPECT_EQ(r.error, kUnmatchedEndTag);
  EXPECT_EQ(r.line, 2);
  EXPECT_EQ(r.column, 1);
}

TEST_F(FileParseTest, OpenFileEndsProcessWithMessage) {
  struct Case {
    const char* name;
    std::string content;  // null-named file: not written
    const char* tag;
    std::string message;  // after the path line
  };
  const Case cases[] = {
      {"entity.xml", "<a>\n&x;</a>", nullptr, "Error: Unknown character entity\nAt line 2, column 1.\n"},
      {"tag.xml", "<a/>", "cfg", "Error: First Tag not found\nAt line 0, column 0.\nFirst Tag should be 'cfg'.\n"},
      {"warning.xml", "<a><b></a>", nullptr, "Warning: Unmatched end tag\nAt line 1, column 7.\n"},
      {"empty.xml", "", nullptr, "Error: No XML data\nAt line 0, column 0.\n"},
  };
  for (const Case& c : cases) {
    std::string path = write(c.name, c.content);
    auto [status, err] = openInChild(path, c.tag);
    EXPECT_EQ(status, 255) << c.name;
    EXPECT_EQ(err, "XML Parsing error inside file '" + path + "'.\n" + c.message) << c.name;
  }
  std::string missing = dir_ / "missing.xml";
  auto [status, err] = openInChild(missing, nullptr);
  EXPECT_EQ(status, 255);
  EXPECT_EQ(err, "XML Parsing error inside file '" + missing + "'.\nError: File not found\nAt line 0, column 0.\n");
}

TEST_F(FileParseTest, OpenFileParsesWithGuessedEncodingOnly) {
  // In GBK the quote after 0x81 belongs to that character.
  std::string path = write("gbk.xml", "<?xml version=\"1.0\" encoding=\"GBK\"?>\n<a x=\"\x81\"\"/>");
  Node n = openFile(path.c_str(), "a");
  EXPECT_EQ(dump(n), "a[x=\x81\"]");
  EXPECT_EQ(globalOptions().encoding, kUtf8);
  auto [status, err] = openInChild(path, "a");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(err, "");
}

TEST(GuessCharEncodingTest, ByBytesAndAttribute) {
  struct Case {
    std::string bytes;
    bool useAttribute;
    int expected;
  };
  const std::string ascii = "<doc>plain ascii text here</doc>";
  const std::string utf8 = "<doc>caf\xC3\xA9 \xE2\x82\xAC and more text</doc>";
  const std::string latin1 = "<doc>caf\xE9 and more plain text</doc>";
  auto declared = [](const char* quoteAndName) {
    return std::string("<?xml version=\"1.0\" encoding=") + quoteAndName + "?><doc/>";
  };
  const Case cases[] = {
      {"<a>short</a>", true, kEncodingUnknown},
      {"\xEF\xBB\xBF" + latin1, true, kUtf8},
      {ascii, false, kUtf8},
      {utf8, false, kUtf8},
      {latin1, false, kSingleByte},
      // A sequence cut by the end of the buffer is not held against it.
      {ascii + "\xE2\x82", false, kUtf8},
      {declared("\"UTF-8\"") + utf8, true, kUtf8},
      {declared("'utf8'") + latin1, true, kEncodingUnknown},
      {"<?xml version=\"1.0\" encoding = \"Shift-JIS\"?><doc/>", true, kShiftJis},
      {declared("'sjis'"), true, kShiftJis},
      {declared("'ShiftJIS'"), true, kShiftJis},
      {declared("\"gb2312\""), true, kGb2312},
      {declared("\"BIG5\""), true, kBig5},
      {declared("\"gbk\""), true, kGbk},
      {declared("\"windows-1252\""), true, kSingleByte},
      {declared("\"gbk\""), false, kUtf8},
      {std::string(200, ' ') + declared("\"gbk\""), true, kUtf8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(guessCharEncoding(c.bytes.data(), static_cast<int>(c.bytes.size()), c.useAttribute), c.expected)
        << c.bytes;
  }
  EXPECT_EQ(guessCharEncoding(nullptr, 100, true), kEncodingUnknown);
}

}  // namespace
}  // namespace xml
