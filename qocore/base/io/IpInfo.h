#pragma once
// Socket addresses and numeric name lookup.
//
// io::IpInfo holds one IPv4 or IPv6 socket address exactly as the system
// hands it out (sockaddr_in or sockaddr_in6, with its length), and builds
// its text forms on first use.  io::NetMask is an address with a mask, as
// configured access lists write them.

#include <netdb.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"

namespace io {

class PktInfo;

// A getaddrinfo or getnameinfo failure: "<context>: '<text>' (<code>)".
class GetAddrInfoException : public plat::Exception {
 public:
  GetAddrInfoException(const char* context, int code) noexcept;
  // An exception whose message was built elsewhere (one that crossed a
  // thread or process boundary as text).
  static GetAddrInfoException withMessage(int code, const char* message) noexcept;
  int code() const noexcept { return code_; }
  // The localised text for the codes a user can act on (EAI_AGAIN,
  // EAI_NODATA, EAI_NONAME), else the message.
  const char* localisedText() const;

 private:
  GetAddrInfoException() noexcept = default;

  int32_t code_ = 0;
};

class IpInfo {
 public:
  // An empty record for the system to write a received address into: a
  // zeroed buffer of `size` bytes (128 by default), length set to it.
  IpInfo();
  static IpInfo forReceive(size_t size);
  // The local (getsockname) or peer (getpeername) address of a socket.
  IpInfo(int fd, bool local);
  // A copy of a socket address of sizeof(sockaddr_in) or sizeof(sockaddr_in6).
  IpInfo(const sockaddr* addr, socklen_t len);
  // Every form that takes a port throws plat::Exception for one outside
  // 0-65535.
  // The wildcard or loopback address of AF_INET or AF_INET6.
  IpInfo(int family, int port, bool loopback);
  // A numeric host (no name lookup).  Throws GetAddrInfoException.
  IpInfo(const char* host, int port);
  // A 4- or 16-byte binary address.
  static IpInfo fromBinary(const void* bytes, size_t len, int port);
  // The local address a packet was received on.
  IpInfo(const PktInfo& info, int port);

  // For recvfrom and accept: the buffer and its length in and out.
  sockaddr* receiveBuffer() noexcept { return reinterpret_cast<sockaddr*>(buf_.data()); }
  socklen_t* receiveLength() noexcept { return &len_; }

  const sockaddr* sockAddr() const noexcept { return reinterpret_cast<const sockaddr*>(buf_.data()); }
  socklen_t length() const noexcept { return len_; }

  int family() const noexcept;
  int port() const noexcept;
  void setPort(int port);
  // The 4 or 16 address bytes.
  const uint8_t* addressBytes(int* len) const noexcept;

  bool isAny() const noexcept;
  // Exactly 127.0.0.1 or ::1.  Being on loopback makes a connection a
  // local transport; it says nothing about which local user or process is
  // at the other end, so it must never stand in for authenticating it.
  bool isLoopback() const noexcept;
  // 169.254.0.0/16 or fe80::/10.
  bool isLinkLocal() const noexcept;

  // Same family, port and address (for IPv6 also flow information and
  // scope).
  bool operator==(const IpInfo& other) const noexcept;
  // Same family and address only.
  bool sameAddress(const IpInfo& other) const noexcept;

  // The numeric address.  Throws GetAddrInfoException "getnameinfo".
  plat::CharArray toString() const;
  // The numeric address, built once and kept.
  const char* addressText() const;
  // "address:port" in endpoint form (IPv6 in brackets), built once.
  const char* endpointText() const;
  // "<host>::<port> (<kind>)"; the numeric address when host is null.
  plat::CharArray displayText(const char* host, const char* kind) const;

 private:
  void checkValid() const noexcept;

  std::vector<uint8_t> buf_;
  socklen_t len_ = 0;
  mutable plat::CharArray addressText_;
  mutable plat::CharArray endpointText_;
};

// The addresses a lookup produced for a host.
struct AddressList {
  plat::CharArray host;
  std::vector<IpInfo> addresses;
};

// Whether the lists share an entry with the same family, port and address.
bool addressListsOverlap(const std::vector<IpInfo>& a, const std::vector<IpInfo>& b) noexcept;

struct AddrInfoFree {
  void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

// getaddrinfo, answering its code (0 on success).  A service of exactly
// "0" is not passed on; every IPv4 and IPv6 result then has port 0.
int getAddrInfo(const char* host, const char* service, const addrinfo* hints, AddrInfoList& result);

class NetMask {
 public:
  class Exception : public plat::Exception {
   public:
    explicit Exception(const char* message) noexcept : plat::Exception(message) {}
  };

  // "address", "address/prefix" or "address/mask"; the empty text gives
  // the empty mask, which matches everything.  Throws NetMask::Exception.
  static NetMask parse(const char* text);

  // Whether a numeric address text falls inside; another family never does.
  bool matches(const char* address) const noexcept;
  // Matches every address (the empty mask, or a mask of zeros).
  bool isAll() const noexcept;
  // A single address: a non-empty mask of all ones.
  bool isHost() const noexcept;
  // "", "address", "address/prefix" or "address/mask".
  plat::CharArray toString() const;
  // 0 (empty), 4 or 16.
  int length() const noexcept { return len_; }

 private:
  uint8_t addr_[16] = {};
  uint8_t mask_[16] = {};
  int32_t len_ = 0;
};

}  // namespace io
