#pragma once
// Stands in for the platform's colours, colour spaces and appearance.
//
// A colour is red, green, blue and alpha, each 0 to 1, in one RGB space:
// converting between the device, calibrated and generic spaces keeps the
// components.  The system colours are dynamic, as the platform's are: they
// take their components from the light or the dark table each time they
// are read or drawn, so a colour obtained before an appearance change
// shows the new appearance.  The appearance is dark exactly when the user
// default "AppleInterfaceStyle" is "Dark"; `inject::appearance` changes
// it as the user does in the system settings and posts the theme-change
// notification on the distributed notification centre.
//
// The tables hold opaque colours: where the platform's colour is
// translucent (label and placeholder texts), the table holds it as it
// shows over the text background, so that reading its components gives
// what the user sees.  Only the keyboard focus indicator is translucent
// (half opaque), as it is drawn over the control it surrounds.

#include "platform/objc/Object.h"

namespace appkit {

// The name of the notification posted (object null) on the distributed
// notification centre after the appearance changed.
extern const char* const kInterfaceThemeChangedNotification;
// The user default that selects the dark appearance, and its value.
extern const char* const kInterfaceStyleKey;
extern const char* const kInterfaceStyleDark;

// Whether the dark appearance is in force.
bool isDarkAppearance();

class ColorSpace : public objc::Object {
 public:
  // The shared spaces; never released.
  static ColorSpace* genericRGB();
  static ColorSpace* deviceRGB();

 private:
  ColorSpace() = default;
  ~ColorSpace() override = default;
};

// The system colours.
enum class SystemColor : int {
  kTextBackground,
  kText,
  kPlaceholderText,
  kWindowBackground,
  kLabel,
  kSelectedTextBackground,
  kSelectedText,
  kLink,
  kControlText,
  kDisabledControlText,
  kSystemGray,
  kAlternateSelectedControlText,
  kKeyboardFocusIndicator,
  kAlternateSelectedControl,
};

class Color : public objc::Object {
 public:
  // colorWithCalibratedRed:green:blue:alpha: and its device form: an
  // autoreleased colour; components are clamped to 0..1.
  static Color* calibrated(double red, double green, double blue, double alpha);
  static Color* device(double red, double green, double blue, double alpha) {
    return calibrated(red, green, blue, alpha);
  }
  // The shared system colours (never released).
  static Color* system(SystemColor which);
  static Color* textBackgroundColor() { return system(SystemColor::kTextBackground); }
  static Color* textColor() { return system(SystemColor::kText); }
  static Color* placeholderTextColor() { return system(SystemColor::kPlaceholderText); }
  static Color* windowBackgroundColor() { return system(SystemColor::kWindowBackground); }
  static Color* labelColor() { return system(SystemColor::kLabel); }
  static Color* selectedTextBackgroundColor() { return system(SystemColor::kSelectedTextBackground); }
  static Color* selectedTextColor() { return system(SystemColor::kSelectedText); }
  static Color* linkColor() { return system(SystemColor::kLink); }
  static Color* controlTextColor() { return system(SystemColor::kControlText); }
  static Color* disabledControlTextColor() { return system(SystemColor::kDisabledControlText); }
  static Color* systemGrayColor() { return system(SystemColor::kSystemGray); }
  static Color* alternateSelectedControlTextColor() { return system(SystemColor::kAlternateSelectedControlText); }
  static Color* keyboardFocusIndicatorColor() { return system(SystemColor::kKeyboardFocusIndicator); }
  // The background of a table's selected rows.
  static Color* alternateSelectedControlColor() { return system(SystemColor::kAlternateSelectedControl); }
  static Color* clearColor();
  static Color* blackColor();
  static Color* whiteColor();

  // colorUsingColorSpace:: an autoreleased fixed colour with the
  // components this one has now (a system colour is resolved against the
  // current appearance); null for a null space.
  Color* usingColorSpace(ColorSpace* space) const;
  // getRed:green:blue:alpha: (components 0..1); null pointers are skipped.
  void getRed(double* red, double* green, double* blue, double* alpha) const;
  double alphaComponent() const;
  // colorWithAlphaComponent:: an autoreleased fixed colour.
  Color* withAlphaComponent(double alpha) const;
  bool isSystemColor() const noexcept { return system_; }

  // set: makes this the fill and stroke colour of the current graphics
  // context (nothing without one); setFill and setStroke one of them.
  void set() const;
  void setFill() const;
  void setStroke() const;

 private:
  Color(double r, double g, double b, double a) noexcept : r_(r), g_(g), b_(b), a_(a) {}
  explicit Color(SystemColor which) noexcept : which_(which), system_(true) {}
  ~Color() override = default;

  double r_ = 0, g_ = 0, b_ = 0, a_ = 1;
  SystemColor which_ = SystemColor::kText;
  bool system_ = false;
};

namespace inject {
// The user switches the system's appearance: the user default is set to
// "Dark" or removed, then the theme-change notification is posted.
void appearance(bool dark);
}  // namespace inject

}  // namespace appkit
