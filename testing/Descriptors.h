#pragma once
// Test helpers: whole reads and writes on a plain descriptor (a pipe to a
// forked child, one end of a socket pair), retried when a signal
// interrupts them.  A forked child may call them: they allocate only in
// the string they return.

#include <unistd.h>

#include <cerrno>
#include <string>

namespace yarl_test {

// Everything the descriptor delivers until its end or a failure.
inline std::string readToEnd(int fd) {
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

// Writes all of text; stops early only when the descriptor fails.
inline void writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace yarl_test
