#include "qocore/base/io/PktInfo.h"

#include <cerrno>
#include <cstring>

#include "qocore/base/plat/Exception.h"

namespace io {

void PktInfo::enable(int fd, int family, bool on) {
  int value = on ? 1 : 0;
  if (family == AF_INET6) {
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &value, sizeof(value)) != 0)
      throw plat::SystemException("setsockopt(IPV6_RECVPKTINFO)", errno);
  } else if (setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &value, sizeof(value)) != 0) {
    throw plat::SystemException("setsockopt(IP_PKTINFO)", errno);
  }
}

bool PktInfo::isEnabled(int fd, int family) {
  int value = 0;
  socklen_t len = sizeof(value);
  if (family == AF_INET6) {
    if (getsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &value, &len) != 0)
      throw plat::SystemException("getsockopt(IPV6_RECVPKTINFO)", errno);
  } else if (getsockopt(fd, IPPROTO_IP, IP_PKTINFO, &value, &len) != 0) {
    throw plat::SystemException("getsockopt(IP_PKTINFO)", errno);
  }
  return value != 0;
}

size_t PktInfo::controlSpace(int family) noexcept {
  if (family == AF_INET) return CMSG_SPACE(sizeof(in_pktinfo));
  if (family == AF_INET6) return CMSG_SPACE(sizeof(in6_pktinfo));
  return 0;
}

bool PktInfo::fromControl(const msghdr& msg) noexcept {
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      family_ = AF_INET;
      memcpy(&v4_, CMSG_DATA(c), sizeof(v4_));
      return true;
    }
    if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      family_ = AF_INET6;
      memcpy(&v6_, CMSG_DATA(c), sizeof(v6_));
      return true;
    }
  }
  return false;
}

const uint8_t* PktInfo::addressBytes(int* len) const noexcept {
  PLAT_ASSERT(family_ == AF_INET || ((family_) == AF_INET6));
  if (family_ == AF_INET) {
    *len = 4;
    return reinterpret_cast<const uint8_t*>(&v4_.ipi_addr);
  }
  *len = 16;
  return reinterpret_cast<const uint8_t*>(&v6_.ipi6_addr);
}

int PktInfo::interfaceIndex() const noexcept {
  return family_ == AF_INET ? v4_.ipi_ifindex : static_cast<int>(v6_.ipi6_ifindex);
}

bool PktInfo::operator==(const PktInfo& other) const noexcept {
  if (family_ != other.family_) return false;
  if (family_ != AF_INET && family_ != AF_INET6) return true;
  int len = 0, olen = 0;
  const uint8_t* a = addressBytes(&len);
  const uint8_t* b = other.addressBytes(&olen);
  return memcmp(a, b, static_cast<size_t>(len)) == 0 && interfaceIndex() == other.interfaceIndex();
}

}  // namespace io
