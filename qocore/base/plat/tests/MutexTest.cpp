#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <type_traits>

#include "qocore/base/plat/Mutex.h"

namespace {

using namespace std::chrono_literals;

// Whether another thread could take the mutex right now.
bool freeForOthers(plat::Mutex& mutex) {
  bool free = false;
  std::thread([&] {
    free = pthread_mutex_trylock(mutex.native()) == 0;
    if (free) mutex.unlock();
  }).join();
  return free;
}

// Constant-initialised, so a static initialiser may lock it whatever the
// order in which initialisers run; and never torn down, so code that runs
// during exit may still lock it.
constinit plat::Mutex startUpMutex;
static_assert(std::is_trivially_destructible_v<plat::Mutex>);
const bool lockedAtStartUp = [] {
  plat::MutexLock outer(startUpMutex);
  plat::MutexLock inner(startUpMutex);
  return true;
}();

TEST(MutexTest, UsableFromStaticInitialisers) {
  EXPECT_TRUE(lockedAtStartUp);
  EXPECT_TRUE(freeForOthers(startUpMutex));
}

TEST(MutexTest, MutexLockReleasesOnEveryPath) {
  plat::Mutex mutex;
  {
    plat::MutexLock lock(mutex);
    EXPECT_FALSE(freeForOthers(mutex));
  }
  EXPECT_TRUE(freeForOthers(mutex));
  try {
    plat::MutexLock lock(mutex);
    throw 1;
  } catch (int) {
    // Thrown to leave the scope.
  }
  EXPECT_TRUE(freeForOthers(mutex));
}

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
