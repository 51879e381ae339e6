#include "qocore/base/io/IpInfo.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/PktInfo.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/DString.h"

namespace io {

GetAddrInfoException::GetAddrInfoException(const char* context, int code) noexcept : code_(code) {
  setType("GetAddrInfo");
  formatMessage("%s: '%s' (%d)", context ? context : "", gai_strerror(code), code);
}

GetAddrInfoException GetAddrInfoException::withMessage(int code, const char* message) noexcept {
  GetAddrInfoException e;
  e.code_ = code;
  e.setType("GetAddrInfo");
  e.setMessage(message);
  return e;
}

const char* GetAddrInfoException::localisedText() const {
  switch (code_) {
    case EAI_AGAIN:
      return loc::translate("io_error_eai_again");
#ifdef EAI_NODATA
    case EAI_NODATA:
      return loc::translate("io_error_eai_nodata");
#endif
    case EAI_NONAME:
      return loc::translate("io_error_eai_noname");
    default:
      return str();
  }
}

IpInfo::IpInfo() : buf_(128, 0), len_(128) {}

IpInfo IpInfo::forReceive(size_t size) {
  IpInfo info;
  info.buf_.assign(size, 0);
  info.len_ = static_cast<socklen_t>(size);
  return info;
}

IpInfo::IpInfo(int fd, bool local) : IpInfo() {
  int rc = local ? getsockname(fd, receiveBuffer(), &len_) : getpeername(fd, receiveBuffer(), &len_);
  if (rc != 0) throw plat::SystemException(local ? "getsockname" : "getpeername", errno);
  checkValid();
}

IpInfo::IpInfo(const sockaddr* addr, socklen_t len) {
  PLAT_ASSERT(len == sizeof(sockaddr_in) || ((len) == sizeof(sockaddr_in6)));
  buf_.assign(reinterpret_cast<const uint8_t*>(addr), reinterpret_cast<const uint8_t*>(addr) + len);
  len_ = len;
  checkValid();
}

namespace {

// Ports are 16 bits on the wire: a number outside would be cut silently
// (70000 would name port 4464), so it is refused.
uint16_t checkedPort(int port) {
  if (port < 0 || port > 65535) throw plat::Exception("Invalid port number %d: outside 0-65535", port);
  return static_cast<uint16_t>(port);
}

}  // namespace

IpInfo::IpInfo(int family, int port, bool loopback) {
  PLAT_ASSERT(family == AF_INET || ((family) == AF_INET6));
  const uint16_t netPort = htons(checkedPort(port));
  if (family == AF_INET) {
    sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_port = netPort;
    sin.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
    *this = IpInfo(reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
  } else {
    sockaddr_in6 sin6 = {};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = netPort;
    sin6.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
    *this = IpInfo(reinterpret_cast<const sockaddr*>(&sin6), sizeof(sin6));
  }
}

IpInfo::IpInfo(const char* host, int port) {
  addrinfo hints = {};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_STREAM;
  char service[16];
  snprintf(service, sizeof(service), "%d", checkedPort(port));
  AddrInfoList list;
  int rc = getAddrInfo(host, service, &hints, list);
  if (rc != 0) throw GetAddrInfoException("getaddrinfo", rc);
  *this = IpInfo(list->ai_addr, list->ai_addrlen);
}

IpInfo IpInfo::fromBinary(const void* bytes, size_t len, int port) {
  PLAT_ASSERT(len == 4 || ((len) == 16));
  IpInfo info(len == 4 ? AF_INET : AF_INET6, port, false);
  if (len == 4)
    memcpy(&reinterpret_cast<sockaddr_in*>(info.buf_.data())->sin_addr, bytes, 4);
  else
    memcpy(&reinterpret_cast<sockaddr_in6*>(info.buf_.data())->sin6_addr, bytes, 16);
  return info;
}

IpInfo::IpInfo(const PktInfo& info, int port) {
  int len = 0;
  const uint8_t* bytes = info.addressBytes(&len);
  *this = fromBinary(bytes, static_cast<size_t>(len), port);
}

void IpInfo::checkValid() const noexcept {
  PLAT_ASSERT(family() == AF_INET || ((family()) == AF_INET6));
  PLAT_ASSERT_TEXT(len_ == sizeof(sockaddr_in) || len_ == sizeof(sockaddr_in6),
                   "slen == sizeof(sockaddr_in) || ((slen) == sizeof(sockaddr_in6))");
  PLAT_ASSERT_TEXT(len_ == (family() == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6)),
                   "slen == (family() == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6))");
}

int IpInfo::family() const noexcept {
  if (len_ < sizeof(sa_family_t)) return AF_UNSPEC;
  return sockAddr()->sa_family;
}

int IpInfo::port() const noexcept {
  if (family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(buf_.data())->sin_port);
  if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(buf_.data())->sin6_port);
  return 0;
}

void IpInfo::setPort(int port) {
  const uint16_t netPort = htons(checkedPort(port));
  if (family() == AF_INET)
    reinterpret_cast<sockaddr_in*>(buf_.data())->sin_port = netPort;
  else if (family() == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(buf_.data())->sin6_port = netPort;
  endpointText_.reset();
}

const uint8_t* IpInfo::addressBytes(int* len) const noexcept {
  checkValid();
  if (family() == AF_INET) {
    *len = 4;
    return reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(buf_.data())->sin_addr);
  }
  *len = 16;
  return reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in6*>(buf_.data())->sin6_addr);
}

bool IpInfo::isAny() const noexcept {
  int len = 0;
  const uint8_t* bytes = addressBytes(&len);
  for (int i = 0; i < len; ++i)
    if (bytes[i]) return false;
  return true;
}

bool IpInfo::isLoopback() const noexcept {
  int len = 0;
  const uint8_t* bytes = addressBytes(&len);
  if (len == 4) return bytes[0] == 127 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 1;
  return IN6_IS_ADDR_LOOPBACK(reinterpret_cast<const in6_addr*>(bytes));
}

bool IpInfo::isLinkLocal() const noexcept {
  int len = 0;
  const uint8_t* bytes = addressBytes(&len);
  if (len == 4) return bytes[0] == 169 && bytes[1] == 254;
  return bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80;
}

namespace {

bool sameEntry(const IpInfo& a, const IpInfo& b, bool withPort) noexcept {
  if (a.family() != b.family()) return false;
  if (withPort && a.port() != b.port()) return false;
  int alen = 0, blen = 0;
  const uint8_t* ab = a.addressBytes(&alen);
  const uint8_t* bb = b.addressBytes(&blen);
  if (alen != blen || memcmp(ab, bb, static_cast<size_t>(alen)) != 0) return false;
  if (withPort && a.family() == AF_INET6) {
    auto* a6 = reinterpret_cast<const sockaddr_in6*>(a.sockAddr());
    auto* b6 = reinterpret_cast<const sockaddr_in6*>(b.sockAddr());
    return a6->sin6_flowinfo == b6->sin6_flowinfo && a6->sin6_scope_id == b6->sin6_scope_id;
  }
  return true;
}

}  // namespace

bool IpInfo::operator==(const IpInfo& other) const noexcept { return sameEntry(*this, other, true); }

bool IpInfo::sameAddress(const IpInfo& other) const noexcept { return sameEntry(*this, other, false); }

plat::CharArray IpInfo::toString() const {
  checkValid();
  char host[1025];
  int rc = getnameinfo(sockAddr(), len_, host, sizeof(host), nullptr, 0, NI_NUMERICHOST);
  if (rc != 0) throw GetAddrInfoException("getnameinfo", rc);
  return plat::CharArray(host);
}

const char* IpInfo::addressText() const {
  if (!addressText_) addressText_ = toString();
  return addressText_.get();
}

const char* IpInfo::endpointText() const {
  if (!endpointText_) endpointText_ = formatEndpoint(addressText(), port(), -1, 0);
  return endpointText_.get();
}

plat::CharArray IpInfo::displayText(const char* host, const char* kind) const {
  return plat::DString::format("%s::%d (%s)", host ? host : addressText(), port(), kind ? kind : "");
}

bool addressListsOverlap(const std::vector<IpInfo>& a, const std::vector<IpInfo>& b) noexcept {
  for (const IpInfo& x : a)
    for (const IpInfo& y : b)
      if (x == y) return true;
  return false;
}

int getAddrInfo(const char* host, const char* service, const addrinfo* hints, AddrInfoList& result) {
  result.reset();
  bool zeroPort = service && strcmp(service, "0") == 0;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host, zeroPort ? nullptr : service, hints, &list);
  if (rc != 0) return rc;
  result.reset(list);
  if (zeroPort) {
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
      if (ai->ai_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_port = 0;
      else if (ai->ai_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_port = 0;
    }
  }
  return 0;
}

namespace {

// Parses a numeric address of either family into 16 bytes; answers its
// length (4 or 16) or 0.
int parseAddress(const char* text, uint8_t* out) noexcept {
  memset(out, 0, 16);
  if (strchr(text, ':')) return inet_pton(AF_INET6, text, out) == 1 ? 16 : 0;
  return inet_pton(AF_INET, text, out) == 1 ? 4 : 0;
}

// The prefix length when the mask is a contiguous run of ones, else -1.
int prefixLength(const uint8_t* mask, int len) noexcept {
  int bits = 0;
  int i = 0;
  for (; i < len && mask[i] == 0xff; ++i) bits += 8;
  if (i < len) {
    uint8_t b = mask[i];
    int n = 0;
    while (b & 0x80) {
      b = static_cast<uint8_t>(b << 1);
      ++n;
    }
    if (b) return -1;
    bits += n;
    for (++i; i < len; ++i)
      if (mask[i]) return -1;
  }
  return bits;
}

}  // namespace

NetMask NetMask::parse(const char* text) {
  NetMask m;
  if (!text || !*text) return m;
  const char* slash = strchr(text, '/');
  plat::CharArray addrPart(text, slash ? static_cast<int>(slash - text) : -1);
  m.len_ = parseAddress(addrPart.get(), m.addr_);
  if (!m.len_) throw Exception("Bad IP address/mask");
  if (!slash) {
    memset(m.mask_, 0xff, sizeof(m.mask_));
  } else {
    const char* maskPart = slash + 1;
    if (!strchr(maskPart, '.') && !strchr(maskPart, ':')) {
      if (!*maskPart || strlen(maskPart) > 3) throw Exception("Bad IP mask");
      int prefix = 0;
      for (const char* p = maskPart; *p; ++p) {
        if (*p < '0' || *p > '9') throw Exception("Bad IP mask");
        prefix = prefix * 10 + (*p - '0');
      }
      if (prefix > 8 * m.len_) throw Exception("Bad IP mask");
      for (int i = 0; i < m.len_; ++i) {
        int covered = prefix - 8 * i;
        if (covered >= 8)
          m.mask_[i] = 0xff;
        else if (covered <= 0)
          m.mask_[i] = 0;
        else
          m.mask_[i] = static_cast<uint8_t>(0xff << (8 - covered));
      }
    } else {
      uint8_t mask[16];
      int len = parseAddress(maskPart, mask);
      if (!len) throw Exception("Bad IP address/mask");
      if (len != m.len_) throw Exception("Mismatched IP mask");
      memcpy(m.mask_, mask, sizeof(mask));
    }
  }
  for (int i = 0; i < 16; ++i) m.addr_[i] &= m.mask_[i];
  return m;
}

bool NetMask::matches(const char* address) const noexcept {
  if (len_ == 0) return true;
  if (!address) return false;
  uint8_t candidate[16];
  int len = parseAddress(address, candidate);
  if (len != len_) return false;
  for (int i = 0; i < len_; ++i)
    if (addr_[i] != (mask_[i] & candidate[i])) return false;
  return true;
}

bool NetMask::isAll() const noexcept {
  for (int i = 0; i < len_; ++i)
    if (mask_[i]) return false;
  return true;
}

bool NetMask::isHost() const noexcept {
  if (len_ == 0) return false;
  for (int i = 0; i < len_; ++i)
    if (mask_[i] != 0xff) return false;
  return true;
}

plat::CharArray NetMask::toString() const {
  if (len_ == 0) return plat::CharArray("");
  int family = len_ == 4 ? AF_INET : AF_INET6;
  char text[INET6_ADDRSTRLEN];
  inet_ntop(family, addr_, text, sizeof(text));
  plat::DString out;
  out.append(text);
  if (!isHost()) {
    int prefix = prefixLength(mask_, len_);
    if (prefix >= 0) {
      out.appendf("/%d", prefix);
    } else {
      inet_ntop(family, mask_, text, sizeof(text));
      out.appendf("/%s", text);
    }
  }
  return out.release();
}

}  // namespace io
