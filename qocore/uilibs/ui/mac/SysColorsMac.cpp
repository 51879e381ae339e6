#include "qocore/uilibs/ui/mac/SysColorsMac.h"

#include <cstring>

#include "platform/appkit/Graphics.h"

namespace ui {

namespace {

struct SystemName {
  const char* name;
  appkit::Color* (*color)();
};

// clang-format off
const SystemName kSystemNames[] = {
    {"contentBg",    appkit::Color::textBackgroundColor},
    {"contentText",  appkit::Color::textColor},
    {"disabledText", appkit::Color::placeholderTextColor},
    {"buttonBg",     appkit::Color::windowBackgroundColor},
    {"buttonText",   appkit::Color::labelColor},
    {"selectedBg",   appkit::Color::selectedTextBackgroundColor},
    {"selectedText", appkit::Color::selectedTextColor},
    {"inactiveBg",   appkit::Color::windowBackgroundColor},
    {"linkText",     appkit::Color::linkColor},
};
// clang-format on

}  // namespace

appkit::Color* systemColour(const char* name) {
  if (!name) return nullptr;
  for (const SystemName& s : kSystemNames)
    if (std::strcmp(s.name, name) == 0) return s.color();
  return nullptr;
}

bool SysColorsMac::getColor(const char* name, plat::Rgb& out) {
  appkit::Color* c = systemColour(name);
  if (!c) return false;
  out = rgbFromColour(c);
  return true;
}

bool SysColorsMac::isDark() { return appkit::isDarkAppearance(); }

void installSysColorsMac() {
  // Made once and never destroyed: colour lookups may come until exit.
  static SysColorsMac* provider = [] {
    auto* p = new SysColorsMac;
    plat::setSysColorsImpl(p);
    return p;
  }();
  (void)provider;
}

appkit::Color* getColour(const char* name) {
  if (appkit::Color* c = systemColour(name)) return c;
  plat::Rgb rgb;
  if (name && plat::getColor(name, rgb)) return colourFromRgb(rgb);
  return nullptr;
}

appkit::Color* getColour(const char* name, const char* fallbackName) {
  appkit::Color* c = getColour(name);
  return c ? c : getColour(fallbackName);
}

appkit::Color* colourFromRgb(const plat::Rgb& rgb) {
  return appkit::Color::calibrated(static_cast<float>(rgb.red) / 255.0f, static_cast<float>(rgb.green) / 255.0f,
                                   static_cast<float>(rgb.blue) / 255.0f, 1.0);
}

plat::Rgb rgbFromColour(const appkit::Color* colour) {
  plat::Rgb out;
  if (!colour) return out;
  const appkit::Color* generic = colour->usingColorSpace(appkit::ColorSpace::genericRGB());
  double r = 0, g = 0, b = 0, a = 0;
  generic->getRed(&r, &g, &b, &a);
  out.red = static_cast<int32_t>(r * 255);
  out.green = static_cast<int32_t>(g * 255);
  out.blue = static_cast<int32_t>(b * 255);
  return out;
}

void fillRect(appkit::Rect rect, appkit::Color* colour) {
  if (colour) colour->set();
  appkit::rectFill(rect);
}

void fillRoundedRect(appkit::Rect rect, appkit::Color* colour, double radius) {
  if (colour) colour->set();
  appkit::BezierPath::withRoundedRect(rect, radius, radius)->fill();
}

void fillRoundedRect(int x1, int y1, int x2, int y2, appkit::Color* colour, double radius) {
  fillRoundedRect(appkit::makeRect(x1, y1, static_cast<double>(x2) - x1, static_cast<double>(y2) - y1), colour, radius);
}

}  // namespace ui
