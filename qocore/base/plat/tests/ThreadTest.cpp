#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/os/AppLoop.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Thread.h"
#include "testing/LogCapture.h"

namespace {

using namespace std::chrono_literals;
using plat::Thread;
using testing::ElementsAre;
using testing::HasSubstr;

class ThreadTest : public testing::Test {
 protected:
  // The debug lines that name the thread, with the id and detail as
  // logged.
  std::vector<std::string> linesOf(const std::string& name) {
    std::vector<std::string> out;
    for (const yarl_test::LogRecord& r : log_.from("Threading"))
      if (r.level == plat::LogSrc::kDebug && r.text.find(" " + name + " ") != std::string::npos) out.push_back(r.text);
    return out;
  }

  static std::string hex(pthread_t id) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(id));
    return buf;
  }

  // Waits (briefly) for a started thread's body to end.
  static bool finishes(Thread& thread) {
    for (auto deadline = std::chrono::steady_clock::now() + 2s; std::chrono::steady_clock::now() < deadline;) {
      if (thread.state() == Thread::kFinished) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

  yarl_test::LogCapture log_{"Threading:capture:100"};
};

// Records what the body saw of its own thread.
struct Probe : plat::ThreadRunner {
  void run(Thread* thread) override {
    ++runs;
    given = thread;
    self = Thread::self();
    id = pthread_self();
  }
  std::atomic<int> runs{0};
  Thread* given = nullptr;
  Thread* self = nullptr;
  pthread_t id{};
};

TEST_F(ThreadTest, JoinWithoutStartReturnsAtOnce) {
  Thread idle("Idle");
  EXPECT_EQ(idle.state(), Thread::kCreated);
  EXPECT_EQ(idle.join(), &idle);
  EXPECT_EQ(idle.state(), Thread::kJoined);
  EXPECT_EQ(idle.join(), &idle);
  EXPECT_THAT(linesOf("Idle"), ElementsAre("created   Idle 0", "join      Idle 0", "joined    Idle 0"));
}

TEST_F(ThreadTest, BodyRunsOnceOnItsOwnThread) {
  Probe probe;
  {
    Thread worker("Worker", &probe);
    worker.start();
    worker.start();  // a second start does nothing
    // Joining only after the body ended keeps the log in one order.
    ASSERT_TRUE(finishes(worker));
    EXPECT_EQ(worker.join(), &worker);
    EXPECT_EQ(worker.state(), Thread::kJoined);
    EXPECT_EQ(probe.runs, 1);
    EXPECT_EQ(probe.given, &worker);
    EXPECT_EQ(probe.self, &worker);
    EXPECT_FALSE(pthread_equal(probe.id, pthread_self()));
  }
  std::string id = hex(probe.id);
  EXPECT_THAT(linesOf("Worker"), ElementsAre("created   Worker 0", "started   Worker " + id, "stopped   Worker " + id,
                                             "join      Worker " + id, "joined    Worker " + id,
                                             "destroy   Worker " + id, "destroyed Worker " + id));
}

TEST_F(ThreadTest, ThrowingBodyLogsFailedAndStillFinishes) {
  struct Throwing : plat::ThreadRunner {
    void run(Thread*) override {
      id = pthread_self();
      throw plat::Exception("disk on fire");
    }
    pthread_t id{};
  } body;
  Thread worker("Thrower", &body);
  worker.start();
  ASSERT_TRUE(finishes(worker));
  worker.join();
  EXPECT_THAT(linesOf("Thrower"), ElementsAre(HasSubstr("created"), HasSubstr("started"),
                                              "failed    Thrower " + hex(body.id) + ": disk on fire", HasSubstr("join"),
                                              HasSubstr("joined")));
}

TEST_F(ThreadTest, DestructorWaitsForTheBody) {
  struct Slow : plat::ThreadRunner {
    void run(Thread*) override {
      std::this_thread::sleep_for(30ms);
      done = true;
    }
    std::atomic<bool> done{false};
  } slow;
  {
    Thread thread("Slow", &slow);
    thread.start();
  }
  EXPECT_TRUE(slow.done);
}

TEST_F(ThreadTest, SubclassMayOverrideTheBody) {
  struct Counter : Thread {
    Counter() : Thread("Counter") {}
    ~Counter() override { join(); }
    void run() override { self = Thread::self(); }
    Thread* self = nullptr;
  } counter;
  counter.start();
  counter.join();
  EXPECT_EQ(counter.self, &counter);
}

TEST_F(ThreadTest, SelfOnAThreadNotCreatedHereIsOneNativeObject) {
  Thread* main = Thread::self();
  EXPECT_EQ(Thread::self(), main);
  EXPECT_STREQ(main->name(), "Native");
  EXPECT_EQ(main->state(), Thread::kNative);
  EXPECT_EQ(main->join(), nullptr);

  Thread* other = nullptr;
  std::thread([&] { other = Thread::self(); }).join();
  EXPECT_NE(other, main);
  EXPECT_EQ(other->state(), Thread::kNative);
}

TEST_F(ThreadTest, ConditionWaitsUntilSignalled) {
  plat::Mutex mutex;
  plat::Condition ready(mutex);
  bool flag = false;
  struct Signaller : plat::ThreadRunner {
    plat::Mutex* mutex;
    plat::Condition* ready;
    bool* flag;
    void run(Thread*) override {
      std::this_thread::sleep_for(20ms);
      std::lock_guard<plat::Mutex> guard(*mutex);
      *flag = true;
      ready->signal();
    }
  } signaller;
  signaller.mutex = &mutex;
  signaller.ready = &ready;
  signaller.flag = &flag;

  Thread thread("Signaller", &signaller);
  {
    std::lock_guard<plat::Mutex> guard(mutex);
    thread.start();
    while (!flag) EXPECT_TRUE(ready.wait(-1));
  }
  thread.join();
}

// A body that ends the process.
struct Exiter : plat::ThreadRunner {
  void run(Thread*) override { exit(7); }
};

// What exit() reaches runs on the thread that called it.  The program's
// loop (its timer manager belongs to the main thread) and the thread
// objects, which log as they go, must survive it.
void exitFromASecondThread() {
  os::AppLoop loop;
  plat::LogDestFile::stderrDest("threadtest");
  plat::applyLogSetting("Threading:stderr:100");
  Exiter exiter;
  Thread thread("exiter", &exiter);
  thread.start();
  thread.join();
}

TEST(ThreadDeathTest, ExitFromASecondThreadEndsWithItsCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitFromASecondThread(), testing::ExitedWithCode(7), "started +exiter");
}

TEST(ThreadDeathTest, ConditionTimedWaitFailsAnAssertion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  plat::Mutex mutex;
  plat::Condition condition(mutex);
  std::lock_guard<plat::Mutex> guard(mutex);
  EXPECT_EXIT(condition.wait(1000), testing::KilledBySignal(SIGABRT),
              "Assertion 'timeoutMs == -1' failed at qocore/base/plat/Thread.cpp:[0-9]+: "
              "Condition timed wait not implemented yet");
}

}  // namespace
