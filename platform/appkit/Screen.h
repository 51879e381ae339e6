#pragma once
// Stands in for the platform's screens and the display queries of its
// graphics layer.  The screens are configured, not detected: by default one
// main display of 1440 x 900 points at backing scale 1.  Screen frames are
// bottom-up from the main display's lower left corner; a screen's visible
// frame leaves out the menu bar (Metrics.h) at the top of the main display.
// The display bounds of the graphics layer are the same rectangles in its
// top-down coordinates, so both views of a display agree.

#include <cstdint>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/objc/Object.h"

namespace appkit {

struct DisplaySpec {
  Rect frame;
  double backingScale = 1;
};

class Screen : public objc::Object {
 public:
  // Every screen, the main display first.
  static const std::vector<Screen*>& screens();
  // The screen of the key window, else the main display.
  static Screen* mainScreen();
  // Replaces the configured screens (tests); the first is the main
  // display, whose frame origin is (0, 0).  Screens of an earlier
  // configuration stay valid until the process ends.
  static void configure(const std::vector<DisplaySpec>& displays);

  Rect frame() const noexcept { return frame_; }
  Rect visibleFrame() const noexcept;
  double backingScaleFactor() const noexcept { return scale_; }
  // The "NSScreenNumber" entry of the device description.
  uint32_t screenNumber() const noexcept { return number_; }

 private:
  Screen(Rect frame, double scale, uint32_t number, bool main)
      : frame_(frame), scale_(scale), number_(number), main_(main) {}
  ~Screen() override = default;
  Rect frame_;
  double scale_;
  uint32_t number_;
  bool main_;
};

// The graphics layer's display queries.
using DisplayId = uint32_t;
DisplayId mainDisplayId();
// Top-down bounds of the display; the zero rectangle for an unknown id.
Rect displayBounds(DisplayId display);

}  // namespace appkit
