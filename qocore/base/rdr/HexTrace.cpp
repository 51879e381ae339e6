#include "qocore/base/rdr/HexTrace.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Strings.h"

namespace rdr {

void traceBytes(plat::LogSrc& log, const char* prefix, const uint8_t* data, int32_t len) {
  if (len <= 0 || !log.enabled(plat::LogSrc::kDebug)) return;
  char blanks[16] = {};
  std::memset(blanks, ' ', std::min<size_t>(std::strlen(prefix), sizeof blanks - 1));
  for (int32_t start = 0; start < len; start += 16) {
    char line[128] = {};
    plat::safeStrAppend(line, sizeof line, start == 0 ? prefix : blanks);
    char column[17] = {};
    for (int j = 0; j < 16; ++j) {
      if (start + j < len) {
        uint8_t b = data[start + j];
        plat::safeSnprintfAppend(line, sizeof line, "%02x ", b);
        column[j] = b >= 32 && b <= 126 ? static_cast<char>(b) : '.';
      } else {
        plat::safeStrAppend(line, sizeof line, "   ");
      }
      if (j % 4 == 3) plat::safeStrAppend(line, sizeof line, " ");
    }
    log.debug("%s%s", line, column);
  }
}

}  // namespace rdr
