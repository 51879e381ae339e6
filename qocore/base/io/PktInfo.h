#pragma once
// The local address and interface a datagram arrived on, read from the
// control data of recvmsg once IP_PKTINFO or IPV6_RECVPKTINFO is on.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

namespace io {

class PktInfo {
 public:
  PktInfo() noexcept = default;

  // Switches the option on or off; throws SystemException
  // "setsockopt(IP_PKTINFO)" or "setsockopt(IPV6_RECVPKTINFO)".
  static void enable(int fd, int family, bool on);
  // Throws "getsockopt(IP_PKTINFO)" or "getsockopt(IPV6_RECVPKTINFO)".
  static bool isEnabled(int fd, int family);
  // The control-buffer space recvmsg needs for the record; 0 for another
  // family.
  static size_t controlSpace(int family) noexcept;

  // The record in a received message's control data; false when absent.
  [[nodiscard]] bool fromControl(const msghdr& msg) noexcept;

  int family() const noexcept { return family_; }
  // The 4 or 16 bytes of the local address.
  const uint8_t* addressBytes(int* len) const noexcept;
  int interfaceIndex() const noexcept;

  bool operator==(const PktInfo& other) const noexcept;

 private:
  int32_t family_ = 0;
  in_pktinfo v4_ = {};
  in6_pktinfo v6_ = {};
};

}  // namespace io
