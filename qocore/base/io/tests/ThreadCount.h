#pragma once
// Test helper for the io tests: how many threads the process has.  A
// thread that has just been joined can still be listed for a moment while
// the kernel finishes its exit, so a count is read once it has reached the
// expected number (or after a generous bound, when it never does).

#include <dirent.h>

#include <chrono>
#include <thread>

namespace io_test {

inline int threadCountNow() {
  int n = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
  closedir(dir);
  return n;
}

inline int threadCountOnceAt(int expected) {
  int n = threadCountNow();
  for (int i = 0; i < 10000 && n != expected; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    n = threadCountNow();
  }
  return n;
}

}  // namespace io_test
