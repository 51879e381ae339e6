#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mbedtls/entropy.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <thread>

#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/os/RandomBytes.h"
#include "qocore/base/rdr/MemInStream.h"

namespace {

using namespace std::chrono_literals;
using crypto_test::ChunkedInStream;
using crypto_test::toHex;

std::string draw(crypto::RandomStream& random, int32_t n) {
  std::string bytes(n, '\0');
  random.readBytes(bytes.data(), n);
  return bytes;
}

std::string drawFresh(int32_t n) {
  crypto::RandomStream random;
  return draw(random, n);
}

TEST(RandomStreamTest, EveryReadDeliversWhatItAsks) {
  crypto::RandomStream random;
  for (int32_t n : {1, 15, 16, 17, 31, 100, 4096}) {
    SCOPED_TRACE(n);
    std::string bytes(n + 1, '\x5a');
    random.readBytes(bytes.data(), n);
    EXPECT_EQ(bytes[n], '\x5a');
  }
  // Integers and skips across the 16-byte refills.
  for (int i = 0; i < 20; ++i) {
    random.readU8();
    random.readU16();
    random.readU32();
    random.readU64();
    random.skip(3);
  }
  int32_t items = 4;
  EXPECT_NE(random.getItems(16, &items), nullptr);
  EXPECT_EQ(items, 1);
  EXPECT_EQ(random.pos(), 0);
  EXPECT_FALSE(random.isRewindable());
}

TEST(RandomStreamTest, AnItemLargerThanOneRefillIsRefused) {
  crypto::RandomStream random;
  int32_t items = 1;
  try {
    random.getItems(17, &items);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "item size too large");
  }
  EXPECT_EQ(draw(random, 17).size(), 17u);
}

TEST(RandomStreamTest, NoBytesRepeat) {
  // Within one stream, across streams in turn, and across two streams held
  // at once by one thread (the lock is recursive).
  std::string bytes = drawFresh(4096) + drawFresh(16) + drawFresh(16);
  {
    crypto::RandomStream a;
    crypto::RandomStream b;
    bytes += draw(a, 64) + draw(b, 64) + draw(a, 64);
  }
  std::set<std::string> blocks;
  for (size_t i = 0; i < bytes.size(); i += 16) blocks.insert(bytes.substr(i, 16));
  EXPECT_EQ(blocks.size(), bytes.size() / 16);
}

TEST(RandomStreamTest, OtherThreadsWaitWhileAStreamIsAlive) {
  auto held = std::make_unique<crypto::RandomStream>();
  std::atomic<bool> drew{false};
  std::thread other([&] {
    drawFresh(16);
    drew = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(drew);
  held.reset();
  other.join();
  EXPECT_TRUE(drew);
}

TEST(RandomStreamTest, DestructionWipesTheBufferedBytes) {
  alignas(crypto::RandomStream) unsigned char storage[sizeof(crypto::RandomStream)];
  auto* random = new (storage) crypto::RandomStream();
  // The stream's window is its own buffer, inside the object.
  const unsigned char* window = random->getPtr();
  ASSERT_GE(window, storage);
  ASSERT_LE(window + crypto::RandomStream::kBufSize, storage + sizeof storage);
  const std::string zeros(crypto::RandomStream::kBufSize, '\0');
  ASSERT_NE(std::string(reinterpret_cast<const char*>(window), zeros.size()), zeros);
  random->~RandomStream();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(window), zeros.size()), zeros);
}

// A child starts with a copy of the parent's generator; it must still draw
// bytes of its own.
TEST(RandomStreamTest, ForkedChildDrawsDifferentBytes) {
  drawFresh(16);  // the generator exists before the fork
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string bytes = drawFresh(32);
    _exit(write(fds[1], bytes.data(), bytes.size()) == 32 ? 0 : 1);
  }
  close(fds[1]);
  std::string mine = drawFresh(32);
  std::string theirs(32, '\0');
  EXPECT_EQ(read(fds[0], theirs.data(), theirs.size()), 32);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(toHex(mine), toHex(theirs));
}

// The generator against an independent HMAC_DRBG (SP 800-90A, HMAC-SHA-256,
// no nonce or personalisation) seeded with known bytes, then reseeded with
// known bytes in a forked child.  It runs in a fresh process so that this
// one's generator does not exist yet.
TEST(RandomStreamDeathTest, GeneratorFollowsHmacDrbg) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        char dir[] = "/tmp/drbg.XXXXXX";
        if (!mkdtemp(dir)) _exit(10);
        std::string seedFile = std::string(dir) + "/seed";
        auto writeSeed = [&](int first) {
          unsigned char seed[32];
          for (int i = 0; i < 32; ++i) seed[i] = static_cast<unsigned char>(first + i);
          int fd = open(seedFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
          if (fd < 0 || write(fd, seed, sizeof seed) != 32) _exit(11);
          close(fd);
        };
        writeSeed(0x00);
        os::setRandomDevices(seedFile.c_str(), seedFile.c_str());
        std::string first = drawFresh(32);
        writeSeed(0x80);
        pid_t child = fork();
        if (child == 0) _exit(toHex(drawFresh(16)) == "6228e1fb1de7185b78931f2ae4e7c7fd" ? 0 : 13);
        int status = 0;
        waitpid(child, &status, 0);
        std::filesystem::remove_all(dir);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) _exit(14);
        _exit(toHex(first) == "3226437dd9f98b17591aad731383303268ddf0df052af113ad632143c8039de4" ? 0 : 12);
      },
      testing::ExitedWithCode(0), "");
  GTEST_FLAG_SET(death_test_style, style);
}

TEST(RandomStreamTest, MbedtlsCallbackTakesTheSourceFirst) {
  struct Case {
    const char* source;  // null: no source
    ChunkedInStream::Ending ending;
    int expected;
  };
  const Case cases[] = {
      {nullptr, ChunkedInStream::Ending::kEndOfStream, 0},
      {"12345", ChunkedInStream::Ending::kEndOfStream, 0},
      {"0123456789abcdef0123456789abcdef0123", ChunkedInStream::Ending::kEndOfStream, 0},
      {"12345", ChunkedInStream::Ending::kFailure, MBEDTLS_ERR_ENTROPY_SOURCE_FAILED},
      // No exception of any kind may unwind into the library.
      {"12345", ChunkedInStream::Ending::kForeignFailure, MBEDTLS_ERR_ENTROPY_SOURCE_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source ? c.source : "(none)");
    std::string given = c.source ? c.source : "";
    ChunkedInStream source(given, 2, c.ending);
    unsigned char buf[32] = {};
    ASSERT_EQ(crypto::mbedtlsRandom(c.source ? &source : nullptr, buf, sizeof buf), c.expected);
    if (c.expected != 0) continue;
    std::string got(reinterpret_cast<const char*>(buf), sizeof buf);
    size_t fromSource = std::min(given.size(), sizeof buf);
    EXPECT_EQ(got.substr(0, fromSource), given.substr(0, fromSource));
    // The rest is generated: 27 zero bytes by chance is out of the question.
    if (fromSource < sizeof buf) {
      EXPECT_NE(got.substr(fromSource), std::string(sizeof buf - fromSource, '\0'));
    }
  }
}

TEST(RandomStreamTest, MbedtlsCallbackReportsAFailingGenerator) {
  // A child whose reseed finds no entropy.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    os::setRandomDevices("/nonexistent/a", "/nonexistent/b");
    unsigned char buf[8];
    _exit(crypto::mbedtlsRandom(nullptr, buf, sizeof buf) == MBEDTLS_ERR_ENTROPY_SOURCE_FAILED ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
