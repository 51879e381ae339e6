#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/os/RandomBytes.h"
#include "qocore/base/plat/Exception.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::StartsWith;

// A scratch folder with a few device stand-ins; the real devices are put
// back after each test.
class RandomBytesTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/randombytes.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    writeFile("empty", "");
    writeFile("short", "abc");
    writeFile("bytes", "0123456789abcdef");
    writeFile("second", "from the second device");
    fs::create_directory(dir_ / "folder");
  }
  // The seam keeps pointers: the texts live in the fixture.
  void useDevices(const char* primary, const char* fallback) {
    primary_ = path(primary);
    fallback_ = path(fallback);
    os::setRandomDevices(primary_.c_str(), fallback_.c_str());
  }

  void TearDown() override {
    os::setRandomDevices(nullptr, nullptr);
    fs::remove_all(dir_);
  }

  void writeFile(const char* name, const std::string& content) {
    int fd = open(path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
    close(fd);
  }
  // A name in the scratch folder.
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // The lowest free descriptor: a call that leaks one moves it.
  static int nextFreeFd() {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(fd);
    return fd;
  }

  fs::path dir_;
  std::string primary_, fallback_;
};

TEST_F(RandomBytesTest, ReadsTheFirstDeviceThatExists) {
  struct Case {
    const char* primary;
    const char* fallback;
    size_t len;
    std::string expected;
  };
  const Case cases[] = {
      {"bytes", "second", 10, "0123456789"},
      // Only a missing first device sends the read to the second one.
      {"missing", "second", 8, "from the"},
      // Nothing is read, so even an empty device will do.
      {"empty", "second", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.primary);
    useDevices(c.primary, c.fallback);
    int freeFd = nextFreeFd();
    std::string got(c.len, '\0');
    os::getRandomBytes(got.data(), c.len);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(nextFreeFd(), freeFd) << "descriptor left open";
  }
}

TEST_F(RandomBytesTest, FailuresNameTheStepAndCloseTheDevice) {
  struct Case {
    const char* primary;
    const char* fallback;
    size_t len;
    std::string message;  // expected start of the message
    int error;            // the system error, 0 for a plain exception
  };
  const std::string notDir = "bytes/x";
  const Case cases[] = {
      {"missing", "gone", 16, "/dev/random not supported", 0},
      // Even a request for nothing needs a device.
      {"missing", "gone", 0, "/dev/random not supported", 0},
      // Any other failure of the first device is final.
      {"bytes/x", "second", 4, "open(" + path(notDir) + "): ", ENOTDIR},
      {"missing", "bytes/x", 4, "open(" + path(notDir) + "): ", ENOTDIR},
      {"folder", "second", 4, "read(random): ", EISDIR},
      {"empty", "second", 4, "no bytes from read(random)", 0},
      // A device that runs dry part-way.
      {"short", "second", 8, "no bytes from read(random)", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.primary) + " / " + c.fallback);
    useDevices(c.primary, c.fallback);
    int freeFd = nextFreeFd();
    std::vector<unsigned char> buf(c.len + 1);
    try {
      os::getRandomBytes(buf.data(), c.len);
      ADD_FAILURE() << "no exception";
    } catch (const plat::Exception& e) {
      EXPECT_THAT(e.str(), StartsWith(c.message));
      auto* sys = dynamic_cast<const plat::SystemException*>(&e);
      EXPECT_EQ(sys ? sys->error() : 0, c.error);
    }
    EXPECT_EQ(nextFreeFd(), freeFd) << "descriptor left open";
  }
}

TEST_F(RandomBytesTest, DefaultDeviceGivesFreshBytes) {
  unsigned char a[32] = {};
  unsigned char b[32] = {};
  os::getRandomBytes(a, sizeof a);
  os::getRandomBytes(b, sizeof b);
  EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
  EXPECT_NE(std::string(a, a + 32), std::string(32, '\0'));
}

std::atomic<int> interruptions{0};
void countInterruption(int) { interruptions++; }

// A device that delivers its bytes in pieces while signals keep
// interrupting the read: every piece still arrives, in order.
TEST_F(RandomBytesTest, CollectsShortReadsAndRetriesInterruptedOnes) {
  std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Holding a writer open keeps the device's own open from waiting.
  int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (const char* piece : {"one", "two--", "three"}) {
      usleep(40000);
      if (write(writer, piece, strlen(piece)) < 0) _exit(1);
    }
    _exit(0);
  }

  struct sigaction interrupt = {}, previous = {};
  interrupt.sa_handler = countInterruption;  // no SA_RESTART: read fails with EINTR
  sigemptyset(&interrupt.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &interrupt, &previous), 0);
  interruptions = 0;
  std::atomic<bool> done{false};
  pthread_t reader = pthread_self();
  std::thread interrupter([&] {
    while (!done) {
      pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  os::setRandomDevices(fifo.c_str(), nullptr);
  std::string got(13, '\0');
  EXPECT_NO_THROW(os::getRandomBytes(got.data(), got.size()));
  done = true;
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  int status = 0;
  waitpid(child, &status, 0);
  close(writer);

  EXPECT_EQ(got, "onetwo--three");
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
