// plat::Regex matching: the input is a flags byte, a pattern up to the
// first NUL and a text (the rest, NULs included).  Every operation must stay
// inside the text and agree with the others.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Regex.h"

namespace {

bool within(const char* p, const char* lo, const char* hi) { return p >= lo && p <= hi; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const size_t rest = size - 1;
  const size_t patternLen = strnlen(bytes, rest);
  const std::string pattern(bytes, patternLen);
  const std::string text = patternLen < rest ? std::string(bytes + patternLen + 1, rest - patternLen - 1) : "";

  try {
    plat::Regex re(pattern.c_str(), data[0] & 7);
    const char* begin = text.data();
    const char* end = begin + text.size();
    const int n = re.groupCount();
    std::vector<const char*> starts(n), ends(n);
    const char* matchEnd = end;
    const char* start = re.find(begin, &matchEnd, starts.data(), ends.data(), n);
    if (re.search(begin, end) != (start != nullptr)) std::abort();
    if (start) {
      if (!within(start, begin, end) || !within(matchEnd, start, end)) std::abort();
      for (int i = 0; i < n; ++i) {
        if ((starts[i] == nullptr) != (ends[i] == nullptr)) std::abort();
        if (starts[i] && (!within(starts[i], start, matchEnd) || !within(ends[i], starts[i], matchEnd))) std::abort();
      }
    }
    if (re.matches(begin, end) && !start) std::abort();

    // The NUL-terminated operations see the text up to its first NUL.
    (void)re.matchText(text.c_str());
    // Replacing runs one search per match, each of which may read on to
    // the end of the text: quadratic in the text, so a short one.
    const std::string head = text.substr(0, 64);
    plat::DString out;
    const int count = re.replaceAll(head.c_str(), "<$1$&$$>", out);
    if (count < 0 || re.replace(head.c_str(), "", out, false, 0x7fffffff) != count) std::abort();
  } catch (const plat::Exception&) {
    // A refused pattern.
  }
  return 0;
}
