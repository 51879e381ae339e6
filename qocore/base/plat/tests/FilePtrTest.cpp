#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using plat::FilePtr;
using testing::StartsWith;
using yarl_test::TempDir;

class FilePtrTest : public testing::Test {
 protected:
  void SetUp() override { savedMask_ = umask(022); }
  void TearDown() override { umask(savedMask_); }

  TempDir dir_;
  mode_t savedMask_ = 0;
};

TEST_F(FilePtrTest, OpenModesAndFlags) {
  struct Case {
    const char* name;
    int mode;
    int flags;
    bool existing;      // the file holds "older" before
    const char* after;  // contents after writing "new"
    mode_t created;     // mode of a file the call creates
  };
  for (const Case& c : std::vector<Case>{
           {"write truncates", FilePtr::kWrite, 0, true, "new", 0},
           {"write creates", FilePtr::kWrite, 0, false, "new", 0644},
           {"write private", FilePtr::kWrite, FilePtr::kPrivate, false, "new", 0600},
           {"append", FilePtr::kWrite, FilePtr::kAppend, true, "oldernew", 0},
           {"read-write keeps", FilePtr::kReadWrite, 0, true, "newer", 0},
           {"read-write creates", FilePtr::kReadWrite, FilePtr::kCreate, false, "new", 0644},
           {"read-write create keeps", FilePtr::kReadWrite, FilePtr::kCreate, true, "newer", 0},
           {"read-write truncates", FilePtr::kReadWrite, FilePtr::kTruncate, true, "new", 0},
           {"read-write truncate creates", FilePtr::kReadWrite, FilePtr::kTruncate | FilePtr::kPrivate, false, "new",
            0600},
       }) {
    std::string path = dir_ / c.name;
    if (c.existing) dir_.write(c.name, "older", 0640);
    FilePtr f;
    EXPECT_TRUE(f.open(path.c_str(), c.mode, c.flags)) << c.name;
    ASSERT_TRUE(f) << c.name;
    EXPECT_EQ(fputs("new", f.get()), 1) << c.name;
    f.close();
    EXPECT_FALSE(f);
    EXPECT_EQ(yarl_test::readFile(path), c.after) << c.name;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.existing ? 0640u : c.created) << c.name;
  }
}

TEST_F(FilePtrTest, OpenFailures) {
  std::string missing = dir_ / "missing";
  for (int mode : {FilePtr::kRead, FilePtr::kReadWrite}) {
    FilePtr f;
    try {
      f.open(missing.c_str(), mode);
      ADD_FAILURE() << "opened a missing file in mode " << mode;
    } catch (const plat::SystemException& e) {
      EXPECT_EQ(e.error(), ENOENT);
      EXPECT_THAT(e.str(), StartsWith("Error opening \"" + missing + "\": "));
    }
    EXPECT_FALSE(f.open(missing.c_str(), mode, FilePtr::kNoThrow));
    EXPECT_FALSE(f);
  }
}

TEST_F(FilePtrTest, DashIsStandardInputOrOutputAndIsNotClosed) {
  {
    FilePtr in, out;
    in.open("-", FilePtr::kRead);
    out.open("-", FilePtr::kWrite);
    EXPECT_EQ(in.get(), stdin);
    EXPECT_EQ(out.get(), stdout);
    try {
      FilePtr both;
      both.open("-", FilePtr::kReadWrite);
      ADD_FAILURE() << "stdin/stdout opened for reading and writing";
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), "Invalid mode for stdin/stdout");
    }
  }
  EXPECT_NE(fcntl(fileno(stdin), F_GETFD), -1);
  EXPECT_NE(fcntl(fileno(stdout), F_GETFD), -1);
}

TEST_F(FilePtrTest, OpeningAgainClosesTheFileHeldBefore) {
  std::string first = dir_.write("first", "1");
  std::string second = dir_.write("second", "2");
  FilePtr f;
  f.open(first.c_str(), FilePtr::kWrite, FilePtr::kAppend);
  fputs("+", f.get());  // buffered until the close
  f.open(second.c_str(), FilePtr::kRead);
  EXPECT_EQ(yarl_test::readFile(first), "1+");
  EXPECT_EQ(fgetc(f.get()), '2');
}

TEST_F(FilePtrTest, ReadLineReadsLinesOfAnyLengthAsValidText) {
  std::string longLine(100000, 'x');
  std::string path = dir_.write("lines", "one\n\n" + longLine + "\nbad \xff byte\nlast");
  FilePtr f;
  f.open(path.c_str(), FilePtr::kRead);
  plat::DString line("stale");
  std::vector<std::string> lines;
  while (f.readLine(line)) lines.push_back(line.c_str());
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "", longLine, "bad \xEF\xBF\xBD byte", "last"}));
  EXPECT_FALSE(f.readLine(line));
}

TEST_F(FilePtrTest, ReadAllHonoursTheLimit) {
  struct Case {
    std::string contents;
    int maximum;
    const char* outcome;  // the contents, or the message thrown
  };
  for (const Case& c : std::vector<Case>{
           {"", 0, ""},  // an empty file is an empty buffer
           {"abc", 3, "abc"},
           {"abc", 2, "Error: file is too large (3 > 2)"},
           {std::string(70000, 'z'), 1 << 20, nullptr},
       }) {
    std::string path = dir_.write("all", c.contents);
    FilePtr f;
    f.open(path.c_str(), FilePtr::kRead);
    std::string expected = c.outcome ? c.outcome : c.contents;
    try {
      plat::MBuf<unsigned char> bytes = f.readAll(c.maximum);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.count()), expected);
      if (bytes.count()) {
        EXPECT_EQ(bytes.data()[bytes.count()], 0) << "NUL after the last byte";
      }
    } catch (const plat::Exception& e) {
      EXPECT_EQ(e.str(), expected);
    }
  }
}

// A stream that knows its size but fails every read, as a failing disk
// would.
FILE* failingStream() {
  cookie_io_functions_t io = {};
  io.read = [](void*, char*, size_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
    auto* position = static_cast<off64_t*>(cookie);
    *position = whence == SEEK_END ? 10 + *offset : whence == SEEK_CUR ? *position + *offset : *offset;
    *offset = *position;
    return 0;
  };
  static off64_t position = 0;
  return fopencookie(&position, "r", io);
}

TEST_F(FilePtrTest, ReadAllReportsAFailedRead) {
  FilePtr f(failingStream());
  try {
    f.readAll(100);
    ADD_FAILURE() << "read from a failing stream";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), EIO);
    EXPECT_THAT(e.str(), StartsWith("Reading from file failed: "));
  }
}

std::vector<std::string> logged;
void recordingSink(const char* source, int level, const char* text) {
  logged.push_back(std::string(source) + " " + std::to_string(level) + " " + text);
}

// /dev/full takes the open but refuses the buffered bytes when they are
// flushed, so the close fails.
TEST_F(FilePtrTest, CloseFailuresThrowOrAreLogged) {
  {
    FilePtr f;
    f.open("/dev/full", FilePtr::kWrite);
    fputs("x", f.get());
    try {
      f.flush();
      ADD_FAILURE() << "flushed to a full device";
    } catch (const plat::SystemException& e) {
      EXPECT_EQ(e.error(), ENOSPC);
      EXPECT_THAT(e.str(), StartsWith("fflush: "));
    }
    fputs("x", f.get());
    try {
      f.close();
      ADD_FAILURE() << "closed after writing to a full device";
    } catch (const plat::SystemException& e) {
      EXPECT_EQ(e.error(), ENOSPC);
      EXPECT_THAT(e.str(), StartsWith("fclose: "));
    }
    EXPECT_FALSE(f);
  }

  {
    yarl_test::LogCapture capture("FilePtr:capture:0", &recordingSink);
    logged.clear();
    for (bool logErrors : {true, false}) {
      FilePtr f;
      f.open("/dev/full", FilePtr::kWrite);
      f.setLogCloseErrors(logErrors);
      fputs("x", f.get());
    }
  }
  EXPECT_EQ(logged, std::vector<std::string>{"FilePtr 0 fclose: " + std::string(strerror(ENOSPC)) + " (" +
                                             std::to_string(ENOSPC) + ")"});
}

}  // namespace
