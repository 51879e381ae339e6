#pragma once
// Test helper: a connected pair of Unix stream sockets, closed when the
// pair goes.  Tests of descriptor streams, connections and the loops talk
// over one of these instead of a fake.

#include <sys/socket.h>

#include <stdexcept>

#include "qocore/base/plat/UniqueFd.h"

namespace yarl_test {

struct SocketPair {
  // `flags` is added to the socket type (SOCK_NONBLOCK, say).
  explicit SocketPair(int flags = 0) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0, fds) != 0) {
      throw std::runtime_error("socketpair failed");
    }
    near.reset(fds[0]);
    far.reset(fds[1]);
  }

  plat::UniqueFd near;
  plat::UniqueFd far;
};

}  // namespace yarl_test
