#pragma once
// A test input stream whose data arrives on demand.
//
// It holds the whole input from the start and widens its window by at most
// `chunk` bytes per refill (1: one byte at a time), so reads are split
// across refills.  Only the bytes that have "arrived" can be delivered;
// past them a refill would block until arrive() releases more.  Once every
// byte has arrived, their end is the end of the stream.  The bytes stay in
// place, so rewinding to a checkpoint always works.
//
//   ScriptedInStream in(bytes, {.chunk = 100, .arrived = 2});

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "qocore/base/rdr/InStream.h"

namespace rdr_test {

struct Script {
  // Most bytes one refill adds to the window.
  int chunk = 1;
  // Bytes available before the stream would block; < 0: all of them.
  int arrived = -1;
  bool rewindable = true;
  // Report "would block" by throwing BlockException instead of answering
  // false.
  bool blockByThrowing = false;
  // The end of the data is the end of a message (EndOfMsg) rather than of
  // the stream.
  bool endOfMsg = false;
};

class ScriptedInStream : public rdr::InStream {
 public:
  explicit ScriptedInStream(std::string bytes, Script script = {}) : bytes_(std::move(bytes)), script_(script) {
    arrived_ = script.arrived < 0 ? size() : std::min(script.arrived, size());
    ptr_ = end_ = checkpointPtr_ = start();
    rewindable_ = script.rewindable;
  }

  // n more bytes become available.
  void arrive(int n) { arrived_ = std::min(arrived_ + n, size()); }

  int32_t pos() override { return static_cast<int32_t>(ptr_ - start()); }
  bool atEnd() override { return ptr_ == start() + size(); }

  int refills() const { return refills_; }
  int blocks() const { return blocks_; }
  int checkpoints() const { return checkpoints_; }
  int32_t checkpointPos() const { return checkpointPos_; }
  // Bytes handed into the window so far.
  int delivered() const { return static_cast<int>(end_ - start()); }

  void setCheckpoint() override {
    ++checkpoints_;
    rdr::InStream::setCheckpoint();
  }

 protected:
  bool overrun(int32_t /*needed*/) override {
    ++refills_;
    int more = std::min(script_.chunk, arrived_ - delivered());
    if (more > 0) {
      end_ += more;
      return true;
    }
    if (arrived_ == size()) {
      if (script_.endOfMsg) throw rdr::EndOfMsg();
      throw rdr::EndOfStream();
    }
    ++blocks_;
    if (script_.blockByThrowing) throw rdr::BlockException();
    return false;
  }

 private:
  const uint8_t* start() const { return reinterpret_cast<const uint8_t*>(bytes_.data()); }
  int size() const { return static_cast<int>(bytes_.size()); }

  std::string bytes_;
  Script script_;
  int arrived_;
  int refills_ = 0;
  int blocks_ = 0;
  int checkpoints_ = 0;
};

}  // namespace rdr_test
