#include "platform/appkit/TextMetrics.h"

#include "platform/appkit/Font.h"

namespace appkit {

namespace {

struct Span {
  uint32_t first;
  uint32_t last;
};

// clang-format off
constexpr Span kZeroWidth[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
    {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0x2060, 0x2060}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF},
};
constexpr Span kWide[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F}, {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
};
// clang-format on

template <size_t N>
bool inSpans(const Span (&spans)[N], uint32_t c) noexcept {
  for (const Span& s : spans)
    if (c >= s.first && c <= s.last) return true;
  return false;
}

constinit FixedTextMetrics fixedMetrics;
constinit TextMetrics* current = nullptr;

}  // namespace

double FixedTextMetrics::advanceEm(uint32_t codePoint) noexcept {
  if (inSpans(kZeroWidth, codePoint)) return 0;
  if (inSpans(kWide, codePoint)) return kWideEm;
  return kNarrowEm;
}

double FixedTextMetrics::advance(uint32_t codePoint, const Font& font) {
  double a = advanceEm(codePoint) * font.pointSize();
  return font.isBold() ? a * kBoldFactor : a;
}

double FixedTextMetrics::ascender(const Font& font) { return kAscenderEm * font.pointSize(); }
double FixedTextMetrics::descender(const Font& font) { return kDescenderEm * font.pointSize(); }
double FixedTextMetrics::leading(const Font& font) { return kLeadingEm * font.pointSize(); }

TextMetrics& textMetrics() noexcept { return current ? *current : fixedMetrics; }

void setTextMetrics(TextMetrics* metrics) noexcept { current = metrics; }

}  // namespace appkit
