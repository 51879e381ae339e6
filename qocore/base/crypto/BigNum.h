#pragma once
// Big numbers (the library's mbedtls_mpi) on byte streams, in two
// encodings: fixed (exactly n bytes, big-endian) and variable (a u16
// length, then that many bytes, big-endian).  The key formats are built
// from them.
//
// The readers run on non-blocking input: while the stream does not yet
// hold the whole number they return false, and the next call takes up
// where they stopped through the rdr::ByteReader the caller keeps for the
// purpose.  A number still zero is taken to be not read yet, so zero
// itself can never be read: a field that decodes to zero is refused.

#include <cstdint>

#include "qocore/base/plat/Exception.h"

struct mbedtls_mpi;

namespace rdr {
class ByteReader;
class InStream;
class OutStream;
}  // namespace rdr

namespace crypto {

// A number that does not fit its field, or a field that is not a number.
class BigNumOverflow : public plat::Exception {
 public:
  explicit BigNumOverflow(const char* message) noexcept : plat::Exception(message) {}
};

// True once x holds the n-byte field (at once when x is already non-zero);
// false while more input is needed.  A zero field: "bigNumReadF invalid
// bytes".  A complete field, good or bad, is consumed (checkpoint set).
[[nodiscard]] bool bigNumReadF(rdr::InStream& in, mbedtls_mpi& x, int32_t n, rdr::ByteReader& reader);
// The same for a variable field of at most maxLen bytes; a longer one is
// refused with "bigNumReadV overflow" before its bytes are read.
[[nodiscard]] bool bigNumReadV(rdr::InStream& in, mbedtls_mpi& x, rdr::ByteReader& reader, int32_t maxLen);

// Exactly n bytes; a number that needs more throws "bigNumWriteF overflow"
// and writes nothing.
void bigNumWriteF(rdr::OutStream& out, const mbedtls_mpi& x, int32_t n);
// The length m (the number's byte size, at most maxLen and at least
// minLen) as u16, then the number in m bytes.  A number longer than maxLen
// bytes fails in the second step, after the length was written.
void bigNumWriteV(rdr::OutStream& out, const mbedtls_mpi& x, int32_t maxLen, int32_t minLen = 0);

}  // namespace crypto
