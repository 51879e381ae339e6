#include "qocore/base/io/FdKicker.h"

#include <fcntl.h>
#include <unistd.h>

#include "qocore/base/io/FdManager.h"
#include "qocore/base/plat/Exception.h"

namespace io {

FdKicker::FdKicker(FdKickerCallback* callback) : callback_(callback), manager_(FdManager::current()) {
  PLAT_ASSERT(manager_);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw plat::StdlibException("pipe");
  readEnd_.reset(fds[0]);
  writeEnd_.reset(fds[1]);
  fd_ = readEnd_.get();
  in_ = std::make_unique<rdr::FdInStream>(fd_);
  in_->setNonBlocking(true);
  manager_->addHandler(this, true);
  manager_->setInterest(this, Interest::kRead);
}

FdKicker::~FdKicker() {
  if (manager_) {
    manager_->setInterest(this, Interest::kNone);
    manager_->addHandler(this, false);
  }
  // The stream goes first, then the write end, then the read end.
  in_.reset();
  writeEnd_.reset();
  readEnd_.reset();
}

void FdKicker::kick(uint8_t byte) noexcept {
  ssize_t ignored = write(writeEnd_.get(), &byte, 1);
  (void)ignored;
}

void FdKicker::readReady() {
  in_->setCheckpoint();
  try {
    callback_->kicked(*this, *in_);
  } catch (...) {
    // A kick carries no error path back to anyone: the callback's failure
    // is dropped.
  }
  in_->setCheckpoint();
}

void FdKicker::drain() {
  in_->skip(in_->nUnread());
  uint8_t buf[4096];
  while (read(fd_, buf, sizeof buf) > 0) {
  }
  in_->setCheckpoint();
}

bool FdKicker::hasPending() {
  try {
    return in_->check(false, 1);
  } catch (const plat::Exception&) {
    return false;
  }
}

}  // namespace io
