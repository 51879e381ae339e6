#pragma once
// How text is measured without a font renderer.  Every measure of text in
// the façade comes from here, through one interface, so that a renderer
// can later supply its own; by default the fixed metrics below apply, which
// make layouts and their tests computable by hand.
//
// Advances, in em (multiples of the font's point size), by the class of
// the code point:
//   - 0: combining marks (U+0300-036F, U+1AB0-1AFF, U+1DC0-1DFF,
//     U+20D0-20FF, U+FE20-FE2F), zero-width and joining characters
//     (U+200B-200F, U+2060, U+FEFF), variation selectors (U+FE00-FE0F) and
//     the C0 and C1 controls (line feed, tab and the like take no width);
//   - 1.0: East Asian wide and fullwidth characters (U+1100-115F,
//     U+2E80-303E, U+3041-33FF, U+3400-4DBF, U+4E00-9FFF, U+A000-A4CF,
//     U+AC00-D7A3, U+F900-FAFF, U+FE30-FE4F, U+FF00-FF60, U+FFE0-FFE6,
//     U+1F300-1F64F, U+1F900-1F9FF, U+20000-3FFFD);
//   - 0.5: everything else, the blank included.
// A bold font (bold trait or a weight above regular) sets every advance
// 10 % wider; italic is as wide as upright.
//
// Vertical metrics, in em: ascender 0.75, descender 0.25, leading 0.25;
// a font's default line height is their sum, 1.25 em (16.25 points for
// the 13-point system font).
//
// Line layout (the layout manager's): a text container insets its lines by
// the line-fragment padding on either side, 5 points by default.  A
// paragraph ends at "\n".  Lines break after a blank (space or tab) when
// the next word does not fit; blanks at the end of a line hang: they do not
// count to its used width and never force a break.  A word longer than the
// line breaks between code points (at least one per line).  A line is as
// high as the tallest font among its characters plus the paragraph's line
// spacing.

#include <cstdint>

namespace appkit {

class Font;

class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  // The advance of one code point, in points.
  virtual double advance(uint32_t codePoint, const Font& font) = 0;
  virtual double ascender(const Font& font) = 0;
  // Positive: the depth below the baseline.
  virtual double descender(const Font& font) = 0;
  virtual double leading(const Font& font) = 0;
  double lineHeight(const Font& font) { return ascender(font) + descender(font) + leading(font); }
};

// The fixed metrics described above.
class FixedTextMetrics : public TextMetrics {
 public:
  static constexpr double kNarrowEm = 0.5;
  static constexpr double kWideEm = 1.0;
  static constexpr double kBoldFactor = 1.1;
  static constexpr double kAscenderEm = 0.75;
  static constexpr double kDescenderEm = 0.25;
  static constexpr double kLeadingEm = 0.25;

  // The advance of a code point at 1 em, upright and regular.
  static double advanceEm(uint32_t codePoint) noexcept;

  double advance(uint32_t codePoint, const Font& font) override;
  double ascender(const Font& font) override;
  double descender(const Font& font) override;
  double leading(const Font& font) override;
};

// The line-fragment padding of a new text container.
constexpr double kDefaultLineFragmentPadding = 5;

// The metrics in force (the fixed ones unless replaced).  Replacing them
// is for start-up, before any text is measured; null restores the fixed
// metrics.  The object is not owned.
TextMetrics& textMetrics() noexcept;
void setTextMetrics(TextMetrics* metrics) noexcept;

}  // namespace appkit
