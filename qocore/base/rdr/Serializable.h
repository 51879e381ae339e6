#pragma once
// rdr::Serializable: an object whose state can be written to a stream and
// read back into an object of the same kind (and configuration) within the
// same process.

namespace rdr {

class InStream;
class OutStream;

class Serializable {
 public:
  // Replaces the state with one written by save().
  virtual void restore(InStream& is) = 0;
  virtual void save(OutStream& os) = 0;

 protected:
  ~Serializable() = default;
};

}  // namespace rdr
