#include "qocore/base/plat/Colors.h"

#include <cstring>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"

namespace plat {

IntParameter ppmm("ppmm", "Physical display units per mm.", 4, 1, 32, true);
IntParameter textSizeFactor("TextSizeFactor", "Factor for text size on this system, normal being 100", 115, 1, 1000);

namespace {

// Installed once by the UI backend before any lookup; lookups run on the UI
// thread.
constinit SysColors* sysColorsImpl = nullptr;

struct ThemeColor {
  const char* name;
  uint32_t dark;
  uint32_t light;
};

struct NamedColor {
  const char* name;
  uint32_t value;
};

// clang-format off
constexpr ThemeColor kThemeColors[] = {
    {"contentBg",    0x000000, 0xffffff},
    {"contentText",  0xffffff, 0x000000},
    {"buttonBg",     0x404040, 0xececec},
    {"buttonText",   0xececec, 0x404040},
    {"selectedBg",   0x41648a, 0xd1e8ff},
    {"selectedBd",   0x0e5ccd, 0x66a7e8},
    {"selectedText", 0xffffff, 0xffffff},
    {"inactiveBg",   0x323232, 0xf0f0f0},
    {"inactiveBd",   0x555555, 0xdedede},
    {"helpBg",       0x443322, 0xffffd3},
    {"helpText",     0xffffff, 0x000000},
};

// The fixed colours, then the basic ones.
constexpr NamedColor kNamedColors[] = {
    {"disabledText",     0x808080},
    {"statusGreen",      0x048c00},
    {"statusYellow",     0xe6a000},
    {"statusRed",        0xc90000},
    {"statusText",       0xffffff},
    {"customBigBtnBg",   0x1976d2},
    {"customBigBtnText", 0xffffff},
    {"white",   0xffffff}, {"silver", 0xc0c0c0}, {"gray",    0x808080}, {"black",  0x000000},
    {"red",     0xff0000}, {"maroon", 0x800000}, {"yellow",  0xffff00}, {"olive",  0x808000},
    {"lime",    0x00ff00}, {"green",  0x008000}, {"aqua",    0x00ffff}, {"teal",   0x008080},
    {"blue",    0x0000ff}, {"navy",   0x000080}, {"fuchsia", 0xff00ff}, {"purple", 0x800080},
    {"orange",  0xffa500},
};
// clang-format on

Rgb fromValue(uint32_t value) {
  return Rgb{static_cast<int32_t>((value >> 16) & 0xff), static_cast<int32_t>((value >> 8) & 0xff),
             static_cast<int32_t>(value & 0xff)};
}

// "#" and exactly six hex digits.
bool parseSpec(const char* name, Rgb& out) {
  if (name[0] != '#' || std::strlen(name) != 7) return false;
  unsigned char bytes[3];
  if (!hexDecodeInto(name + 1, 3, bytes)) return false;
  out = Rgb{bytes[0], bytes[1], bytes[2]};
  return true;
}

bool providerColor(const char* name, Rgb& out) {
  return name != nullptr && sysColorsImpl != nullptr && sysColorsImpl->getColor(name, out);
}

}  // namespace

SysColors::~SysColors() = default;

void setSysColorsImpl(SysColors* provider) {
  PLAT_ASSERT(!sysColorsImpl);
  sysColorsImpl = provider;
}

SysColors* replaceSysColorsImplForTest(SysColors* provider) noexcept {
  SysColors* previous = sysColorsImpl;
  sysColorsImpl = provider;
  return previous;
}

bool isDarkMode() { return sysColorsImpl != nullptr && sysColorsImpl->isDark(); }

bool lookupColor(const char* name, Rgb& out) {
  if (name == nullptr) return false;
  if (parseSpec(name, out)) return true;
  // The theme column follows the appearance in force at each lookup, so a
  // switch between dark and light shows at the next lookup.
  bool dark = isDarkMode();
  for (const ThemeColor& entry : kThemeColors) {
    if (std::strcmp(entry.name, name) == 0) {
      out = fromValue(dark ? entry.dark : entry.light);
      return true;
    }
  }
  for (const NamedColor& entry : kNamedColors) {
    if (std::strcmp(entry.name, name) == 0) {
      out = fromValue(entry.value);
      return true;
    }
  }
  return false;
}

bool getColor(const char* name, Rgb& out) { return providerColor(name, out) || lookupColor(name, out); }

Rgb getColorOr(const char* name, Rgb fallback) {
  Rgb color = fallback;
  if (!getColor(name, color)) return fallback;
  return color;
}

Rgb getColorWithFallback(const char* name, const char* fallbackName) {
  Rgb color;
  if (getColor(name, color) || getColor(fallbackName, color)) return color;
  return Rgb{};
}

}  // namespace plat
