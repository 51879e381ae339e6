#include "qocore/base/qoutil/RandomString.h"

#include <climits>
#include <cstdint>

#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/MBuf.h"

namespace qoutil {

plat::CharArray randomString(int count, const char* separator) {
  if (count <= 0) return plat::CharArray("");
  // Four bytes give three words; one more byte covers the rounding.
  const int64_t byteCount = int64_t{4} * count / 3 + 1;
  if (byteCount > INT_MAX) throw plat::Exception("Too many words (%d)", count);
  plat::Buffer bytes(static_cast<int>(byteCount), true);
  {
    crypto::RandomStream random;
    random.readBytes(bytes.data(), bytes.count());
  }
  plat::CharArrayList words = plat::wordEncode(bytes.data(), bytes.count());
  plat::DString out;
  for (int i = 0; i < count && i < static_cast<int>(words.size()); ++i) {
    if (i > 0 && separator) out.append(separator);
    char* word = words[i].get();
    if (*word >= 'a' && *word <= 'z') *word = static_cast<char>(*word - 'a' + 'A');
    out.append(word);
  }
  return out.release();
}

}  // namespace qoutil
