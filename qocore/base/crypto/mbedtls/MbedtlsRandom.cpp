#include <mbedtls/entropy.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/plat/Exception.h"

namespace crypto {

int mbedtlsRandom(void* source, unsigned char* buf, size_t len) noexcept {
  try {
    size_t got = 0;
    if (source) {
      rdr::InStream& in = *static_cast<rdr::InStream*>(source);
      try {
        while (got < len) {
          in.check(true, 1);
          size_t n = std::min(len - got, static_cast<size_t>(in.nUnread()));
          std::memcpy(buf + got, in.getPtr(), n);
          in.advance(static_cast<int32_t>(n));
          got += n;
        }
      } catch (const rdr::EndOfStream&) {
      }
    }
    if (got < len) {
      RandomStream random;
      while (got < len) {
        size_t n = std::min(len - got, static_cast<size_t>(INT32_MAX));
        random.readBytes(buf + got, static_cast<int32_t>(n));
        got += n;
      }
    }
    return 0;
  } catch (...) {
    // The library is C: no exception of any kind may unwind through it, so
    // every failure becomes its error code.
    return MBEDTLS_ERR_ENTROPY_SOURCE_FAILED;
  }
}

}  // namespace crypto
