#pragma once
// The failures of the byte-stream layer.  Each type name is its class name.

#include "qocore/base/plat/Exception.h"

namespace rdr {

class EndOfStream : public plat::Exception {
 public:
  explicit EndOfStream(const char* message = "End of IO stream") noexcept : plat::Exception(message) {
    setType("EndOfStream");
  }
};

// A read on non-blocking input found too little data; the parser redoes its
// unit from the last checkpoint when more arrives.
class BlockException : public plat::Exception {
 public:
  explicit BlockException(const char* message = "Reading from InStream would block") noexcept
      : plat::Exception(message) {
    setType("BlockException");
  }
};

class StringTooLongException : public plat::Exception {
 public:
  explicit StringTooLongException(const char* message = "String exceeds maximum length") noexcept
      : plat::Exception(message) {
    setType("StringTooLongException");
  }
};

class OutStreamFull : public plat::Exception {
 public:
  explicit OutStreamFull(const char* message = "OutStream full") noexcept : plat::Exception(message) {
    setType("OutStreamFull");
  }
};

class PipeException : public plat::Exception {
 public:
  explicit PipeException(const char* message = "Stream closed for writing") noexcept : plat::Exception(message) {
    setType("PipeException");
  }
};

// Misuse of a framed stream, or bad framing from the peer.
class FrameException : public plat::Exception {
 public:
  explicit FrameException(const char* message) noexcept : plat::Exception(message) { setType("FrameException"); }
};

// A read past the end of the current message.
class EndOfMsg : public plat::Exception {
 public:
  explicit EndOfMsg(const char* message = "End of message") noexcept : plat::Exception(message) { setType("EndOfMsg"); }
};

}  // namespace rdr
