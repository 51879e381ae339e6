#include "qocore/uilibs/ui/mac/Fonts.h"

namespace ui {

namespace {

// Rounds a / b half away from zero (b > 0).
int roundedDivide(long a, long b) noexcept { return static_cast<int>((a >= 0 ? a + b / 2 : a - b / 2) / b); }

// clang-format off
constexpr double kWeightValues[] = {-0.8, -0.6, -0.4, 0.0, 0.23, 0.23, 0.4, 0.62, 0.62};
// clang-format on

}  // namespace

int systemFontSizePoints() noexcept { return static_cast<int>(appkit::Font::systemFontSize()); }

int fontPointSize(int size) noexcept {
  return roundedDivide(static_cast<long>(systemFontSizePoints()) * size, plat::Markup::Style::kNormalSize);
}

double fontWeightValue(int weight) noexcept {
  int i = roundedDivide(static_cast<long>(weight) - 100, 100);
  if (i < 0) i = 0;
  if (i > 8) i = 8;
  return kWeightValues[i];
}

appkit::Font* fontForStyle(const plat::Markup::Style& style) {
  const double points = fontPointSize(style.size);
  appkit::Font* base = appkit::Font::systemFontOfSize(points);
  if (style.flags == 0 && style.size == plat::Markup::Style::kNormalSize &&
      style.weight == plat::Markup::Style::kNormalWeight && style.color.isNull() && style.background.isNull())
    return base;
  appkit::FontAttributes attributes;
  attributes.family = base->familyName();
  attributes.symbolicTraits = style.flags & plat::Markup::Style::kItalic;
  attributes.weight = fontWeightValue(style.weight);
  appkit::Font* font = appkit::Font::withDescriptor(appkit::FontDescriptor::withFontAttributes(attributes), points);
  if (font) return font;
  return style.weight >= 550 ? appkit::Font::boldSystemFontOfSize(points) : base;
}

}  // namespace ui
