#include "qocore/base/os/LaunchConfig.h"

#include <utility>

#include "qocore/base/io/Io.h"

namespace os {

LaunchConfig::~LaunchConfig() {
  plat::secureFreeStr(wiped1);
  plat::secureFreeStr(wiped2);
}

LaunchedIo::LaunchedIo(LaunchedIo&& other) noexcept
    : io_(other.release()), flush_(other.flush_), tellHandler_(other.tellHandler_) {}

LaunchedIo& LaunchedIo::operator=(LaunchedIo&& other) noexcept {
  if (this != &other) {
    reset();
    flush_ = other.flush_;
    tellHandler_ = other.tellHandler_;
    io_ = other.release();
  }
  return *this;
}

io::Io* LaunchedIo::release() noexcept { return std::exchange(io_, nullptr); }

void LaunchedIo::reset() noexcept {
  if (io::Io* io = release()) io->shutdown(flush_, tellHandler_);
}

}  // namespace os
