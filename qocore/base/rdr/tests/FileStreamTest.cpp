#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/FileInStream.h"
#include "qocore/base/rdr/FileOutStream.h"
#include "qocore/base/rdr/TransactedFileOutStream.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using testing::StartsWith;
using yarl_test::readFile;
using yarl_test::TempDir;

using yarl_test::failureOf;

// More than one buffer's worth, so reads and writes cross refills.
std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

void write(rdr::OutStream& out, const std::string& bytes) {
  out.writeBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
}

TEST(FileStreamTest, InputReadsFromTheCurrentPositionToTheEndOfFile) {
  TempDir dir;
  const std::string contents = pattern(40000);
  const std::string path = dir.write("in", contents);
  struct Case {
    const char* name;
    bool byPath;
    bool own;
  };
  for (const Case& c : std::vector<Case>{{"path", true, true}, {"owned", false, true}, {"borrowed", false, false}}) {
    FILE* fp = nullptr;
    size_t start = 0;
    int fd = -1;
    {
      std::unique_ptr<rdr::FileInStream> in;
      if (c.byPath) {
        in = std::make_unique<rdr::FileInStream>(path.c_str());
      } else {
        fp = fopen(path.c_str(), "re");
        ASSERT_TRUE(fp);
        start = 5;
        fseek(fp, static_cast<long>(start), SEEK_SET);
        in = std::make_unique<rdr::FileInStream>(fp, c.own);
      }
      fd = fileno(in->file());
      std::string got(contents.size() - start, '\0');
      in->readBytes(got.data(), static_cast<int32_t>(got.size()));
      EXPECT_EQ(got, contents.substr(start)) << c.name;
      EXPECT_EQ(failureOf<rdr::EndOfStream>([&] { in->readU8(); }), "End of file") << c.name;
      EXPECT_FALSE(in->isRewindable()) << c.name;
    }
    EXPECT_EQ(isOpen(fd), !c.own) << c.name;
    if (!c.own) fclose(fp);
  }
}

TEST(FileStreamTest, OpeningAMissingFileThrows) {
  TempDir dir;
  const std::string missing = dir / "missing";
  try {
    rdr::FileInStream in(missing.c_str());
    ADD_FAILURE() << "opened a missing file";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOENT);
    EXPECT_THAT(e.str(), StartsWith("Error opening \"" + missing + "\""));
  }
}

TEST(FileStreamTest, OutputWritesAndAppends) {
  TempDir dir;
  const std::string big = pattern(40000);
  for (int flags : {0, plat::FilePtr::kAppend}) {
    const std::string path = dir.write("out", "before:");
    {
      rdr::FileOutStream out(path.c_str(), flags);
      write(out, big);
      write(out, "end");
    }
    EXPECT_EQ(readFile(path), (flags ? "before:" : "") + big + "end") << flags;
  }
}

TEST(FileStreamTest, FailedWritesThrowAndTheDestructorLogsThem) {
  const std::string noSpace = plat::SystemException("writing to file failed", ENOSPC).str();
  struct Case {
    const char* name;
    size_t size;  // a large block goes straight to the file
  };
  for (const Case& c : std::vector<Case>{{"flush", 10}, {"write", 40000}}) {
    FILE* full = fopen("/dev/full", "we");
    ASSERT_TRUE(full);
    yarl_test::LogCapture log("FileOutStream:capture:0");
    int32_t pending = 0;
    {
      rdr::FileOutStream out(full, true);
      std::string failure = "(nothing thrown)";
      try {
        write(out, pattern(c.size));
        out.flush();
      } catch (const plat::SystemException& e) {
        failure = e.str();
        EXPECT_EQ(e.error(), ENOSPC) << c.name;
      }
      EXPECT_EQ(failure, noSpace) << c.name;
      pending = out.pendingBytes();
      // The bytes are still on their way: the destructor meets the failure
      // again and must not throw, but says what it lost.
    }
    std::vector<yarl_test::LogRecord> expected;
    if (pending > 0) {
      expected.push_back({"FileOutStream", 0, std::to_string(pending) + " bytes not written to file: " + noSpace});
    }
    EXPECT_EQ(log.from("FileOutStream"), expected) << c.name;
  }
}

TEST(FileStreamTest, TransactedOutputReplacesTheTargetOnlyOnCommit) {
  TempDir dir;
  const std::string big = pattern(40000);
  for (bool commit : {false, true}) {
    const std::string path = dir.write("settings.conf", "old contents");
    {
      rdr::TransactedFileOutStream out(path.c_str());
      write(out, big);
      if (commit) {
        out.commit();
        EXPECT_EQ(failureOf<plat::Exception>([&] { write(out, "late"); }),
                  "TransactedFileOutStream: write after commit");
        EXPECT_EQ(failureOf<plat::Exception>([&] { out.writeU8('!'); }), "TransactedFileOutStream: write after commit");
      } else {
        write(out, "pending when destroyed");
      }
    }
    EXPECT_EQ(readFile(path), commit ? big : "old contents") << commit;
    EXPECT_EQ(readFile(path + ".tmp"), "<missing>") << commit;
  }
}

}  // namespace
