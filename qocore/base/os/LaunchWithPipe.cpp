#include "qocore/base/os/LaunchWithPipe.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <utility>

#include "platform/authorization/Authorization.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/LaunchWithNamedPipe.h"
#include "qocore/base/os/mac/LaunchViaAewp.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/base/rdr/NullOutStream.h"

namespace os {

LaunchFailed::LaunchFailed(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
  setType("LaunchFailed");
}

ElevateCancelled::ElevateCancelled() noexcept {
  setMessage(loc::translate("os_launchwithpipe_elevate_cancelled"));
  setType("ElevateCancelled");
}

LaunchWithPipe::LaunchWithPipe(const LaunchConfig& cfg) : cfg_(cfg), timer_(this) {
  if (cfg_.dl == 0) cfg_.dl = 1;
}

LaunchWithPipe::~LaunchWithPipe() { timer_.cancel(); }

LaunchWithNamedPipe& LaunchWithPipe::named() {
  if (!named_) named_ = std::make_unique<LaunchWithNamedPipe>(cfg_);
  return *named_;
}

void LaunchWithPipe::start(LaunchWithPipeCallback* callback) {
  callback_ = callback;
  PLAT_ASSERT_TEXT(!io_, "!timerDeferredIo");
  io_ = launchChild();
  timer_.start(0);
}

bool LaunchWithPipe::timerExpired(plat::Timer* /*timer*/) {
  // The handle leaves this object first: the owner may destroy the
  // launcher inside the callback.
  LaunchedIo io = std::move(io_);
  if (callback_) callback_->launched(io);
  return false;
}

LaunchedIo LaunchWithPipe::launchChild() {
  if (cfg_.elevate && authorization::elevationNeeded()) return launchViaAewp(cfg_);
  // Each launch builds its command line afresh from the stored config.
  LaunchConfig cfg = cfg_;
  if (!cfg.noPipeArgument && !cfg.childDescriptors.empty())
    cfg.args.push_back(plat::DString::format("%d", cfg.childDescriptors[0]));
  for (const plat::CharArray& a : cfg_.extraArgs) cfg.args.push_back(a);
  LaunchProcess process(cfg);
  return process.launchWithSocketPair();
}

void LaunchWithPipe::runWithInput(int32_t length, const void* data) {
  LaunchedIo io = launchChild();
  rdr::OutStream& out = io->out();
  out.writeBytes(data, length);
  out.flush();
  PLAT_ASSERT(io->out().pendingBytes() == 0);
  if (!out.closeForWriting()) return;
  try {
    rdr::NullOutStream sink;
    (void)writeAll(io->in(), sink, true);
  } catch (const plat::Exception&) {
    // The child's answer is not wanted: a failing channel only ends it.
  }
}

void LaunchWithPipe::readOutput(rdr::OutStream& out) {
  LaunchedIo io = launchChild();
  try {
    (void)writeAll(io->in(), out, true);
  } catch (const plat::Exception&) {
    // The channel failing or out being full ends the output here; what
    // was copied stays.
  }
}

plat::CharArray LaunchWithPipe::readOutputText(bool dropFinalNewline) {
  rdr::MemOutStream out;
  readOutput(out);
  plat::CharArray text = out.takeString();
  size_t length = std::strlen(text.get());
  if (dropFinalNewline && length > 0 && text.get()[length - 1] == '\n') text.get()[length - 1] = '\0';
  return text;
}

bool LaunchWithPipe::writeAll(rdr::InStream& in, rdr::OutStream& out, bool failWhenFull) {
  try {
    out.flush();
    int32_t space = out.spaceLimit();
    while (space > 0) {
      if (in.nUnread() == 0 && !in.check(false, 1)) return false;
      int32_t n = std::min(in.nUnread(), space);
      if (n == 0) return false;
      const uint8_t* bytes = in.getPtr();
      in.advance(n);
      out.writeBytes(bytes, n);
      // The copied bytes are not given back by a later rewind.
      in.setCheckpoint();
      out.flush();
      space = out.spaceLimit();
    }
    if (failWhenFull) throw rdr::OutStreamFull("OutStream full");
    return false;
  } catch (const rdr::EndOfStream&) {
    return true;
  } catch (const rdr::EndOfMsg&) {
    return true;
  }
}

}  // namespace os
