#pragma once
// The system colours of the macOS layer: the platform core's colour
// provider (named system colours that follow the light or dark appearance,
// and the dark-appearance test), and the conversions between colour names,
// RGB triples and native colours that the peers paint with.

#include "platform/appkit/Color.h"
#include "platform/appkit/Geometry.h"
#include "qocore/base/plat/Colors.h"

namespace ui {

class SysColorsMac : public plat::SysColors {
 public:
  // True with the colour for the system colour names ("contentBg",
  // "contentText", "disabledText", "buttonBg", "buttonText",
  // "selectedBg", "selectedText", "inactiveBg", "linkText"); false, with
  // `out` untouched, for any other name.
  bool getColor(const char* name, plat::Rgb& out) override;
  // Whether the user default "AppleInterfaceStyle" is "Dark".
  bool isDark() override;
};

// Installs the provider for the rest of the process; the application loop
// does it when it is made.  Later calls change nothing.
void installSysColorsMac();

// The native colour of a system colour name; null for any other name.
appkit::Color* systemColour(const char* name);
// The colour for a name: a system colour, else what the core's resolver
// makes of it ("#rrggbb", the core's names); null when neither knows it.
appkit::Color* getColour(const char* name);
// The colour for the name, else for the fallback name.
appkit::Color* getColour(const char* name, const char* fallbackName);
// An autoreleased opaque colour of an RGB triple.
appkit::Color* colourFromRgb(const plat::Rgb& rgb);
// A colour's components as an RGB triple (each times 255, truncated).
plat::Rgb rgbFromColour(const appkit::Color* colour);

// Fills the rectangle with the colour in the current graphics context
// (NSRectFill after setting it); a null colour fills with the colour set
// before.
void fillRect(appkit::Rect rect, appkit::Color* colour);

// Fills a rounded rectangle with the colour in the current graphics
// context, with one radius for both corner radii.
void fillRoundedRect(appkit::Rect rect, appkit::Color* colour, double radius);
// The same for the rectangle between two corners.
void fillRoundedRect(int x1, int y1, int x2, int y2, appkit::Color* colour, double radius);

}  // namespace ui
