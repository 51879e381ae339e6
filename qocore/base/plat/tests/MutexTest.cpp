#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "qocore/base/plat/Mutex.h"

namespace {

using namespace std::chrono_literals;

TEST(MutexTest, SharedAttributeIsRecursive) {
  int type = -1;
  ASSERT_EQ(pthread_mutexattr_gettype(plat::recursiveMutexAttr(), &type), 0);
  EXPECT_EQ(type, PTHREAD_MUTEX_RECURSIVE);
  EXPECT_EQ(plat::recursiveMutexAttr(), plat::recursiveMutexAttr());
}

TEST(MutexTest, OwnerLocksAgainAndOtherThreadWaitsForTheLastUnlock) {
  plat::Mutex mutex;
  mutex.lock();
  mutex.lock();  // would deadlock on a plain mutex

  std::atomic<bool> acquired{false};
  std::thread other([&] {
    std::lock_guard<plat::Mutex> guard(mutex);
    acquired = true;
  });

  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(acquired) << "the second thread got in while the mutex was held twice";
  mutex.unlock();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(acquired) << "one unlock of two released the mutex";
  mutex.unlock();
  other.join();
  EXPECT_TRUE(acquired);

  // Free again for the owner.
  EXPECT_EQ(pthread_mutex_trylock(mutex.native()), 0);
  mutex.unlock();
}

}  // namespace
