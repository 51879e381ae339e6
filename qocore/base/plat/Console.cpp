#include "qocore/base/plat/Console.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace plat {

bool isTerminal(int fd) noexcept { return isatty(fd) == 1; }

bool isColourTerminal(int fd) noexcept {
  if (!isTerminal(fd)) return false;
  const char* term = getenv("TERM");
  return term && (strstr(term, "xterm") || strstr(term, "ansi") || strstr(term, "color"));
}

void setTerminalAttr(FILE* stream, const char* attributes, bool flush) {
  fprintf(stream, "\033[%sm", attributes);
  if (flush) fflush(stream);
}

}  // namespace plat
