#include "qocore/base/plat/Mutex.h"

#include <unistd.h>

namespace plat {

namespace {

pthread_mutexattr_t* makeRecursiveAttr() noexcept {
  static pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  if (pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) != 0) {
    // Nothing better can be done this early: go on with a plain mutex.
    static const char kWarning[] = "WARNING: system libpthread has no recursive mutexes; deadlock may result.";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, kWarning, sizeof(kWarning) - 1);
  }
  return &attr;
}

}  // namespace

const pthread_mutexattr_t* recursiveMutexAttr() noexcept {
  // Function-local, so a static initialiser of any library may use it
  // before this file's own initialisers have run.
  static const pthread_mutexattr_t* const attr = makeRecursiveAttr();
  return attr;
}

}  // namespace plat
