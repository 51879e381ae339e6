#pragma once
// The native font of a toolkit text style: the system font scaled by the
// style's size (tenths of a point relative to 120), with its weight and
// italic trait.

#include "platform/appkit/Font.h"
#include "qocore/base/plat/Markup.h"

namespace ui {

// The system font size in whole points, as the toolkit scales it.
int systemFontSizePoints() noexcept;
// S x size / 120 rounded half away from zero, S the system font size.
int fontPointSize(int size) noexcept;
// The platform weight value of a toolkit weight (100 to 900; others are
// clamped to the nearest end).
double fontWeightValue(int weight) noexcept;
// The font of a style (autoreleased).
appkit::Font* fontForStyle(const plat::Markup::Style& style);

}  // namespace ui
