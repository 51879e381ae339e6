#include "platform/appkit/Color.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/appkit/Graphics.h"
#include "platform/appkit/UserDefaults.h"
#include "platform/objc/NotificationCenter.h"

namespace appkit {

const char* const kInterfaceThemeChangedNotification = "AppleInterfaceThemeChangedNotification";
const char* const kInterfaceStyleKey = "AppleInterfaceStyle";
const char* const kInterfaceStyleDark = "Dark";

namespace {

struct ThemeColor {
  uint32_t light;
  uint32_t dark;
  double alpha;
};

// One row per SystemColor, in its order: 0xrrggbb in the light and the
// dark appearance.
// clang-format off
constexpr ThemeColor kThemeColors[] = {
    {0xffffff, 0x1e1e1e, 1.0},  // text background
    {0x000000, 0xffffff, 1.0},  // text
    {0xbfbfbf, 0x565656, 1.0},  // placeholder text
    {0xececec, 0x323232, 1.0},  // window background
    {0x262626, 0xdddddd, 1.0},  // label
    {0xb3d7ff, 0x3f638b, 1.0},  // selected text background
    {0x000000, 0xffffff, 1.0},  // selected text
    {0x0068da, 0x419cff, 1.0},  // link
    {0x000000, 0xdddddd, 1.0},  // control text
    {0xbfbfbf, 0x565656, 1.0},  // disabled control text
    {0x8e8e93, 0x98989d, 1.0},  // system grey
    {0xffffff, 0xffffff, 1.0},  // alternate selected control text
    {0x0067f4, 0x1aa9ff, 0.5},  // keyboard focus indicator
    {0x0063e1, 0x0058d0, 1.0},  // alternate selected control (selected table rows)
};
// clang-format on
constexpr int kSystemColorCount = static_cast<int>(sizeof kThemeColors / sizeof kThemeColors[0]);

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

}  // namespace

bool isDarkAppearance() {
  objc::String* style = UserDefaults::standard().stringForKey(kInterfaceStyleKey);
  return style && std::strcmp(style->utf8(), kInterfaceStyleDark) == 0;
}

ColorSpace* ColorSpace::genericRGB() {
  static ColorSpace* space = new ColorSpace;
  return space;
}

ColorSpace* ColorSpace::deviceRGB() {
  static ColorSpace* space = new ColorSpace;
  return space;
}

Color* Color::calibrated(double red, double green, double blue, double alpha) {
  return static_cast<Color*>((new Color(clamp01(red), clamp01(green), clamp01(blue), clamp01(alpha)))->autorelease());
}

Color* Color::system(SystemColor which) {
  static Color** colors = [] {
    auto** c = new Color*[kSystemColorCount];
    for (int i = 0; i < kSystemColorCount; ++i) c[i] = new Color(static_cast<SystemColor>(i));
    return c;
  }();
  int i = static_cast<int>(which);
  return (i >= 0 && i < kSystemColorCount) ? colors[i] : nullptr;
}

Color* Color::clearColor() {
  static Color* c = new Color(0, 0, 0, 0);
  return c;
}

Color* Color::blackColor() {
  static Color* c = new Color(0, 0, 0, 1);
  return c;
}

Color* Color::whiteColor() {
  static Color* c = new Color(1, 1, 1, 1);
  return c;
}

void Color::getRed(double* red, double* green, double* blue, double* alpha) const {
  double r = r_, g = g_, b = b_, a = a_;
  if (system_) {
    const ThemeColor& t = kThemeColors[static_cast<int>(which_)];
    uint32_t v = isDarkAppearance() ? t.dark : t.light;
    r = ((v >> 16) & 0xff) / 255.0;
    g = ((v >> 8) & 0xff) / 255.0;
    b = (v & 0xff) / 255.0;
    a = t.alpha;
  }
  if (red) *red = r;
  if (green) *green = g;
  if (blue) *blue = b;
  if (alpha) *alpha = a;
}

double Color::alphaComponent() const {
  double a = 0;
  getRed(nullptr, nullptr, nullptr, &a);
  return a;
}

Color* Color::usingColorSpace(ColorSpace* space) const {
  if (!space) return nullptr;
  double r, g, b, a;
  getRed(&r, &g, &b, &a);
  return calibrated(r, g, b, a);
}

Color* Color::withAlphaComponent(double alpha) const {
  double r, g, b;
  getRed(&r, &g, &b, nullptr);
  return calibrated(r, g, b, alpha);
}

void Color::set() const {
  setFill();
  setStroke();
}

void Color::setFill() const {
  if (GraphicsContext* c = GraphicsContext::current()) c->setFillColor(this);
}

void Color::setStroke() const {
  if (GraphicsContext* c = GraphicsContext::current()) c->setStrokeColor(this);
}

namespace inject {
void appearance(bool dark) {
  UserDefaults::standard().setString(kInterfaceStyleKey, dark ? kInterfaceStyleDark : nullptr);
  objc::NotificationCenter::distributedCenter().post(kInterfaceThemeChangedNotification, nullptr);
}
}  // namespace inject

}  // namespace appkit
