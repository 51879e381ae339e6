#include "qocore/base/xml/CharEncoding.h"

#include <cstdint>

namespace xml {

namespace {

constinit Options gOptions;

constexpr unsigned char leadLength(int encoding, int b) {
  if (b == 0) return 0;
  switch (encoding) {
    case kUtf8:
      if (b >= 0xC0 && b <= 0xDF) return 2;
      if (b >= 0xE0 && b <= 0xEF) return 3;
      if (b >= 0xF0 && b <= 0xF4) return 4;
      return 1;
    case kShiftJis:
      return ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF)) ? 2 : 1;
    case kGb2312:
      return (b >= 0xA1 && b <= 0xF7) ? 2 : 1;
    case kBig5:
    case kGbk:
      return (b >= 0x81 && b <= 0xFE) ? 2 : 1;
    default:
      return 1;
  }
}

constexpr detail::LeadTables makeTables() {
  detail::LeadTables t{};
  for (int e = 0; e < 7; ++e) {
    for (int b = 0; b < 256; ++b) t.len[e][b] = leadLength(e, b);
  }
  return t;
}

constexpr detail::LeadTables makeEscapeTables() {
  detail::LeadTables t{};
  for (int e = 0; e < 7; ++e) {
    for (int b = 0; b < 256; ++b) {
      const unsigned char len = leadLength(e, b);
      const bool entity = b == '&' || b == '<' || b == '>' || b == '"' || b == '\'';
      t.len[e][b] = (len == 0 || entity) ? detail::kEscapeStop : len == 1 ? 0 : len;
    }
  }
  return t;
}

}  // namespace

const Options& globalOptions() noexcept { return gOptions; }

int setGlobalOptions(int encoding, bool guessWideChars, bool dropWhiteSpace, bool removeComments) noexcept {
  gOptions.guessWideChars = guessWideChars;
  gOptions.dropWhiteSpace = dropWhiteSpace;
  gOptions.removeComments = removeComments;
  if (encoding < kUtf8 || encoding > kGbk) return 1;
  gOptions.encoding = encoding;
  return 0;
}

namespace detail {

constexpr LeadTables kLeadLength = makeTables();
constexpr LeadTables kEscapeKind = makeEscapeTables();

}  // namespace detail

}  // namespace xml
