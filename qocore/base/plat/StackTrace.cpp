#include "qocore/base/plat/StackTrace.h"

#include <execinfo.h>

#include <cstdlib>

namespace plat {

namespace {
constexpr int kMaxFrames = 62;
}

// Not inlined: the first captured frame must be this function, which is
// then left out.
__attribute__((noinline)) void captureStackTrace(CharArrayList& lines) {
  void* frames[kMaxFrames];
  int n = backtrace(frames, kMaxFrames);
  char** symbols = backtrace_symbols(frames, n);
  if (!symbols) return;
  for (int i = 1; i < n; ++i) lines.emplace_back(symbols[i]);
  free(symbols);
}

}  // namespace plat
