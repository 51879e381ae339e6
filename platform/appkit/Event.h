#pragma once
// Stands in for the platform's input event object.  An event carries its
// type (Constants.h), a location in its window's base coordinates (or in
// screen coordinates when it has no window), the modifier flags, and what
// its type needs: a Mac virtual key code and characters for key events, a
// click count for mouse events, a subtype and two data words for
// system-, AppKit- and application-defined events.

#include <cstdint>

#include "platform/appkit/Geometry.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"
#include "platform/objc/String.h"

namespace appkit {

class Window;
class TrackingArea;

class Event : public objc::Object {
 public:
  // A new event (one reference, the caller's).
  explicit Event(int type) : type_(type) {}

  // Autoreleased constructors, as the platform's class methods.
  static Event* mouseEvent(int type, Point location, uint64_t flags, double timestamp, long windowNumber,
                           long eventNumber, long clickCount, float pressure);
  static Event* keyEvent(int type, Point location, uint64_t flags, double timestamp, long windowNumber,
                         const char* characters, const char* charactersIgnoringModifiers, bool isARepeat,
                         unsigned short keyCode);
  static Event* otherEvent(int type, Point location, uint64_t flags, double timestamp, long windowNumber, short subtype,
                           long data1, long data2);

  // The pointer's current position in screen coordinates.
  static Point mouseLocation();
  // The longest time between the clicks of a double click, in seconds.
  static double doubleClickInterval() noexcept;

  int type() const noexcept { return type_; }
  Point locationInWindow() const noexcept { return location_; }
  uint64_t modifierFlags() const noexcept { return flags_; }
  double timestamp() const noexcept { return timestamp_; }
  // The window of the event, null for none.  Not retained: it reads null
  // once the window has gone.
  Window* window() const noexcept { return window_.get(); }
  long windowNumber() const noexcept;
  long eventNumber() const noexcept { return eventNumber_; }
  long clickCount() const noexcept { return clickCount_; }
  float pressure() const noexcept { return pressure_; }
  unsigned short keyCode() const noexcept { return keyCode_; }
  bool isARepeat() const noexcept { return repeat_; }
  // The typed text; null for events that are not key events.
  objc::String* characters() const noexcept { return characters_; }
  objc::String* charactersIgnoringModifiers() const noexcept { return charactersIgnoring_; }
  short subtype() const noexcept { return subtype_; }
  long data1() const noexcept { return data1_; }
  long data2() const noexcept { return data2_; }
  // How far the pointer moved since the previous mouse event, in screen
  // points; y grows downwards.
  double deltaX() const noexcept { return deltaX_; }
  double deltaY() const noexcept { return deltaY_; }
  void setDelta(double dx, double dy) noexcept {
    deltaX_ = dx;
    deltaY_ = dy;
  }
  // The area of a mouse-entered or mouse-exited event.
  TrackingArea* trackingArea() const noexcept { return trackingArea_; }
  // The event's location on screen (its window's origin added).
  Point locationOnScreen() const noexcept;

  void setWindow(Window* window) noexcept;
  void setLocation(Point location) noexcept { location_ = location; }
  void setTrackingArea(TrackingArea* area) noexcept { trackingArea_ = area; }
  // Another application's event, seen only by global monitors.
  bool isForeign() const noexcept { return foreign_; }
  void setForeign(bool foreign) noexcept { foreign_ = foreign; }
  // A URL handed to the application by the system's open-URL request.
  const char* url() const noexcept { return url_.c_str(); }
  void setUrl(const char* url) { url_ = plat::CharArray(url); }

 protected:
  ~Event() override;

 private:
  friend class Application;
  // A new event of the type with the fields every kind shares; the
  // factories fill in the rest and autorelease it.
  static Event* make(int type, Point location, uint64_t flags, double timestamp, long windowNumber);
  int type_;
  Point location_;
  uint64_t flags_ = 0;
  double timestamp_ = 0;
  objc::WeakRef<Window> window_;
  long windowNumber_ = 0;
  long eventNumber_ = 0;
  long clickCount_ = 0;
  float pressure_ = 0;
  double deltaX_ = 0;
  double deltaY_ = 0;
  unsigned short keyCode_ = 0;
  bool repeat_ = false;
  bool foreign_ = false;
  objc::Ref<objc::String> characters_;
  objc::Ref<objc::String> charactersIgnoring_;
  short subtype_ = 0;
  long data1_ = 0;
  long data2_ = 0;
  TrackingArea* trackingArea_ = nullptr;
  plat::CharArray url_;
};

// Moves the recorded pointer (injectors and the pointer's own events).
void setMouseLocation(Point screen);

}  // namespace appkit
