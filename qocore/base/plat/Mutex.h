#pragma once
// The recursive mutex behind every global lock of the core (logging,
// localisation, the random generator).  A thread that holds it may lock it
// again; it is free once every lock has been matched by an unlock.
//
// The constructor is constexpr, so a namespace-scope mutex is constant
// initialised (declare it `constinit`): it is usable from any static
// initialiser, whatever the order, and it is never destroyed, so code that
// runs during exit may still lock it.
//
// Lock it with plat::MutexLock, which the thread-safety analysis follows;
// Mutex also has lock()/unlock() for std::unique_lock and condition
// variables.

#include <pthread.h>

#include "qocore/base/plat/ThreadAnnotations.h"

namespace plat {

// The process-wide recursive mutex attribute, made on first use (safe from
// any thread and from static initialisers) and never destroyed.
const pthread_mutexattr_t* recursiveMutexAttr() noexcept;

class PLAT_CAPABILITY("mutex") Mutex {
 public:
  constexpr Mutex() noexcept : mutex_(PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP) {}
  // Nothing to release: a recursive pthread mutex holds no resources, and
  // leaving it intact keeps it usable by code that runs during exit.
  ~Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() noexcept PLAT_ACQUIRE() { pthread_mutex_lock(&mutex_); }
  void unlock() noexcept PLAT_RELEASE() { pthread_mutex_unlock(&mutex_); }

  // For condition variables and C interfaces.
  pthread_mutex_t* native() noexcept { return &mutex_; }

 private:
  pthread_mutex_t mutex_;
};

// Holds a Mutex for its scope.
class PLAT_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) noexcept PLAT_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() PLAT_RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace plat
