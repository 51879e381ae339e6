#include "qocore/base/os/RandomBytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/UniqueFd.h"

namespace os {

namespace {

constexpr const char* kPrimary = "/dev/urandom";
constexpr const char* kFallback = "/dev/random";

// Constant-initialised, so valid before any static initialiser runs.
const char* primaryDevice = kPrimary;
const char* fallbackDevice = kFallback;

plat::UniqueFd openDevice() {
  plat::UniqueFd fd(::open(primaryDevice, O_RDONLY | O_CLOEXEC));
  if (fd) return fd;
  const char* path = primaryDevice;
  if (errno == ENOENT) {
    path = fallbackDevice;
    fd.reset(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd) return fd;
    if (errno == ENOENT) throw plat::Exception("/dev/random not supported");
  }
  throw plat::SystemExceptionFmt("open(%s)", errno, path);
}

}  // namespace

void getRandomBytes(void* buf, size_t len) {
  const plat::UniqueFd fd = openDevice();
  unsigned char* out = static_cast<unsigned char*>(buf);
  while (len > 0) {
    ssize_t n = ::read(fd.get(), out, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw plat::SystemException("read(random)", errno);
    }
    if (n == 0) throw plat::Exception("no bytes from read(random)");
    out += n;
    len -= static_cast<size_t>(n);
  }
}

void setRandomDevices(const char* primary, const char* fallback) noexcept {
  primaryDevice = primary ? primary : kPrimary;
  fallbackDevice = fallback ? fallback : kFallback;
}

}  // namespace os
