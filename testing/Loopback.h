#pragma once
// Test helper: a loopback TCP address on which nobody listens (a port bound
// and released again), for tests of refused connections.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <stdexcept>

#include "qocore/base/plat/UniqueFd.h"

namespace yarl_test {

inline sockaddr_in closedLoopbackPort() {
  const plat::UniqueFd probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  const bool ok = probe && bind(probe.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                  getsockname(probe.get(), reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  if (!ok) throw std::runtime_error("no loopback port");
  return addr;
}

}  // namespace yarl_test
