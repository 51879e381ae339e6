#include "qocore/base/os/Backtrace.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "qocore/base/plat/StackTrace.h"

namespace os {

namespace {

// The return address a symbol line ends with ("... [0x...]"), or 0.
uintptr_t addressOf(const char* line) {
  const char* open = std::strrchr(line, '[');
  unsigned long long address = 0;
  if (!open || std::sscanf(open, "[%llx]", &address) != 1) return 0;
  return static_cast<uintptr_t>(address);
}

}  // namespace

// The lines start at the caller's frame.  How many frames the capture
// shows above it is not fixed (a sanitizer's interceptor of the C
// library's unwinder adds one), so the caller is found by its return
// address; when no line shows addresses, the capture's own rule holds and
// only this function's frame is dropped.  Not inlined, so that the return
// address is the caller's.
[[gnu::noinline]] void getBacktrace(plat::CharArrayList& lines) {
  const auto caller = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  plat::CharArrayList frames;
  plat::captureStackTrace(frames);
  size_t first = frames.empty() ? 0 : 1;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (addressOf(frames[i].c_str()) == caller) {
      first = i;
      break;
    }
  }
  for (size_t i = first; i < frames.size(); ++i) lines.push_back(std::move(frames[i]));
}

}  // namespace os
