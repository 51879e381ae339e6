#pragma once
// The recursive mutex behind every global lock of the core (logging,
// localisation, the random generator).  A thread that holds it may lock it
// again; it is free once every lock has been matched by an unlock.
//
// Mutex has lock()/unlock(), so std::lock_guard and std::unique_lock work
// with it.

#include <pthread.h>

namespace plat {

// The process-wide recursive mutex attribute, made on first use (safe from
// any thread and from static initialisers) and destroyed at exit.
const pthread_mutexattr_t* recursiveMutexAttr() noexcept;

class Mutex {
 public:
  Mutex() noexcept;
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() noexcept;
  void unlock() noexcept;

  // For condition variables and C interfaces.
  pthread_mutex_t* native() noexcept { return &mutex_; }

 private:
  pthread_mutex_t mutex_;
};

}  // namespace plat
