#pragma once
// Colour names and the display parameters of the platform core.
//
// The UI names colours ("contentBg", "statusGreen", "red") or writes them
// as "#rrggbb".  A name is resolved first through the process's system
// colour provider, when the UI backend has installed one, then through the
// built-in tables, whose theme part follows the provider's dark or light
// appearance (light without a provider).

#include <cstdint>

#include "qocore/base/plat/ConfigParameter.h"

namespace plat {

// Red, green and blue, each 0 to 255.
struct Rgb {
  int32_t red = 0;
  int32_t green = 0;
  int32_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

// The system's own colours.  One provider may be installed per process; it
// must outlive every colour lookup (the UI backend keeps it for the whole
// run).
class SysColors {
 public:
  virtual ~SysColors();
  // True with the colour when the provider knows the name.
  virtual bool getColor(const char* name, Rgb& out) = 0;
  // Whether the system shows its dark appearance.
  virtual bool isDark() = 0;
};

// Installs the provider; a second installation is a fatal assertion.
void setSysColorsImpl(SysColors* provider);

// Tests only: replaces the installed provider (null removes it) without the
// one-installation check, and returns the one it replaced.
SysColors* replaceSysColorsImplForTest(SysColors* provider) noexcept;

// The provider's isDark, false without a provider.
bool isDarkMode();

// "#rrggbb" (either case) or a built-in name, compared exactly.  False for
// a null or unknown name, leaving `out` unchanged.
bool lookupColor(const char* name, Rgb& out);

// The provider first, then lookupColor.
bool getColor(const char* name, Rgb& out);

// getColor's colour, or `fallback` when the name is unknown.
Rgb getColorOr(const char* name, Rgb fallback);

// The colour of `name`, else of `fallbackName`, else black.
Rgb getColorWithFallback(const char* name, const char* fallbackName);

// "ppmm": physical display units per millimetre (1 to 32, default 4).
extern IntParameter ppmm;
// "TextSizeFactor": the text size factor of this system, 100 being normal.
extern IntParameter textSizeFactor;

}  // namespace plat
