#include "qocore/base/crypto/BigNum.h"

#include <mbedtls/bignum.h>

#include <algorithm>

#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/ByteReader.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace crypto {

bool bigNumReadF(rdr::InStream& in, mbedtls_mpi& x, int32_t n, rdr::ByteReader& reader) {
  if (mbedtls_mpi_cmp_int(&x, 0) != 0) return true;
  reader.init(in, n);
  const uint8_t* bytes = reader.read(false);
  if (!bytes) return false;
  // The field is used up whether or not it makes a number.
  plat::ScopeExit consumed([&] {
    in.setCheckpoint();
    reader.reset();
  });
  if (mbedtls_mpi_read_binary(&x, bytes, static_cast<size_t>(n)) != 0 || mbedtls_mpi_cmp_int(&x, 0) == 0) {
    throw BigNumOverflow("bigNumReadF invalid bytes");
  }
  return true;
}

bool bigNumReadV(rdr::InStream& in, mbedtls_mpi& x, rdr::ByteReader& reader, int32_t maxLen) {
  if (mbedtls_mpi_cmp_int(&x, 0) != 0) return true;
  if (!reader.busy()) {
    in.setCheckpoint();
    uint16_t len;
    try {
      len = in.readU16();
    } catch (const rdr::BlockException&) {
      return false;
    }
    in.setCheckpoint();
    if (len > maxLen) throw BigNumOverflow("bigNumReadV overflow");
    // A zero length leaves the reader idle; the fixed read below then
    // finds an empty field and refuses it.
    reader.init(in, len);
    return bigNumReadF(in, x, len, reader);
  }
  return bigNumReadF(in, x, reader.len(), reader);
}

void bigNumWriteF(rdr::OutStream& out, const mbedtls_mpi& x, int32_t n) {
  PLAT_ASSERT(n >= 0);
  // Keys pass through here: the copy is wiped.
  plat::Buffer bytes(n, true);
  if (mbedtls_mpi_write_binary(&x, bytes.data(), static_cast<size_t>(n)) != 0) {
    throw BigNumOverflow("bigNumWriteF overflow");
  }
  out.writeBytes(bytes.data(), n);
}

void bigNumWriteV(rdr::OutStream& out, const mbedtls_mpi& x, int32_t maxLen, int32_t minLen) {
  PLAT_ASSERT(maxLen >= 0 && maxLen <= 0xFFFF && minLen >= 0);
  int32_t len = static_cast<int32_t>(std::min(mbedtls_mpi_size(&x), static_cast<size_t>(maxLen)));
  len = std::max(len, minLen);
  out.writeU16(static_cast<uint16_t>(len));
  bigNumWriteF(out, x, len);
}

}  // namespace crypto
