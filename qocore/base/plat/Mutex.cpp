#include "qocore/base/plat/Mutex.h"

#include <unistd.h>

namespace plat {

namespace {

class RecursiveAttr {
 public:
  RecursiveAttr() noexcept {
    pthread_mutexattr_init(&attr_);
    if (pthread_mutexattr_settype(&attr_, PTHREAD_MUTEX_RECURSIVE) != 0) {
      // Nothing better can be done this early: go on with a plain mutex.
      static const char kWarning[] = "WARNING: system libpthread has no recursive mutexes; deadlock may result.";
      [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, kWarning, sizeof(kWarning) - 1);
    }
  }
  ~RecursiveAttr() { pthread_mutexattr_destroy(&attr_); }

  const pthread_mutexattr_t* get() const noexcept { return &attr_; }

 private:
  pthread_mutexattr_t attr_;
};

}  // namespace

const pthread_mutexattr_t* recursiveMutexAttr() noexcept {
  // Function-local, so a static initialiser of any library may make a
  // mutex before this file's own initialisers have run.
  static RecursiveAttr attr;
  return attr.get();
}

Mutex::Mutex() noexcept { pthread_mutex_init(&mutex_, recursiveMutexAttr()); }

Mutex::~Mutex() { pthread_mutex_destroy(&mutex_); }

void Mutex::lock() noexcept { pthread_mutex_lock(&mutex_); }

void Mutex::unlock() noexcept { pthread_mutex_unlock(&mutex_); }

}  // namespace plat
