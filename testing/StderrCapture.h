#pragma once
// Test helper: captures what the process writes to standard error.
//
// For its lifetime (or until stop()), descriptor 2 points at an unnamed
// temporary file, so writers that bypass the stdio stream (write(2, ...),
// a child that inherits the descriptor) are caught too, and a large burst
// never blocks the writer as a pipe would.  text() answers everything
// written since the capture began; the stream is flushed first.
//
//   yarl_test::StderrCapture err;
//   dest.write(0, "Src", "lost");
//   EXPECT_EQ(err.stop(), "Error writing log file: ...\n");

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "qocore/base/plat/UniqueFd.h"

namespace yarl_test {

class StderrCapture {
 public:
  StderrCapture() {
    char path[] = "/tmp/yarl-stderr-XXXXXX";
    file_.reset(mkostemp(path, O_CLOEXEC));
    if (!file_) throw std::runtime_error("StderrCapture: mkostemp failed");
    unlink(path);
    fflush(stderr);
    saved_.reset(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    if (!saved_ || dup2(file_.get(), STDERR_FILENO) < 0) throw std::runtime_error("StderrCapture: dup failed");
  }
  ~StderrCapture() { restore(); }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written so far.
  std::string text() {
    fflush(stderr);
    std::string out;
    char buf[4096];
    ssize_t n;
    for (off_t at = 0; (n = pread(file_.get(), buf, sizeof buf, at)) > 0; at += n) out.append(buf, n);
    return out;
  }

  // Ends the capture and answers what it caught.
  std::string stop() {
    std::string out = text();
    restore();
    return out;
  }

 private:
  void restore() noexcept {
    if (!saved_) return;
    fflush(stderr);
    dup2(saved_.get(), STDERR_FILENO);
    saved_.reset();
  }

  plat::UniqueFd file_;
  plat::UniqueFd saved_;
};

}  // namespace yarl_test
