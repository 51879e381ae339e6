#include "platform/appkit/Event.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Window.h"

namespace appkit {

namespace {
Point pointerLocation;

objc::Ref<objc::String> stringOf(const char* text) { return text ? objc::String::withUtf8(text) : nullptr; }
}  // namespace

void setMouseLocation(Point screen) { pointerLocation = screen; }

Point Event::mouseLocation() { return pointerLocation; }

Event::~Event() = default;

Event* Event::make(int type, Point location, uint64_t flags, double timestamp, long windowNumber) {
  Event* e = new Event(type);
  e->location_ = location;
  e->flags_ = flags;
  e->timestamp_ = timestamp;
  e->windowNumber_ = windowNumber;
  e->window_ = Application::shared().windowWithNumber(windowNumber);
  return e;
}

Event* Event::mouseEvent(int type, Point location, uint64_t flags, double timestamp, long windowNumber,
                         long eventNumber, long clickCount, float pressure) {
  Event* e = make(type, location, flags, timestamp, windowNumber);
  e->eventNumber_ = eventNumber;
  e->clickCount_ = clickCount;
  e->pressure_ = pressure;
  e->autorelease();
  return e;
}

Event* Event::keyEvent(int type, Point location, uint64_t flags, double timestamp, long windowNumber,
                       const char* characters, const char* charactersIgnoringModifiers, bool isARepeat,
                       unsigned short keyCode) {
  Event* e = make(type, location, flags, timestamp, windowNumber);
  e->characters_ = stringOf(characters);
  e->charactersIgnoring_ = stringOf(charactersIgnoringModifiers);
  e->repeat_ = isARepeat;
  e->keyCode_ = keyCode;
  e->autorelease();
  return e;
}

Event* Event::otherEvent(int type, Point location, uint64_t flags, double timestamp, long windowNumber, short subtype,
                         long data1, long data2) {
  Event* e = make(type, location, flags, timestamp, windowNumber);
  e->subtype_ = subtype;
  e->data1_ = data1;
  e->data2_ = data2;
  e->autorelease();
  return e;
}

void Event::setWindow(Window* window) noexcept { window_ = window; }

long Event::windowNumber() const noexcept {
  Window* w = window();
  return w ? w->windowNumber() : windowNumber_;
}

Point Event::locationOnScreen() const noexcept {
  Window* w = window();
  return w ? w->convertBaseToScreen(location_) : location_;
}

double Event::doubleClickInterval() noexcept { return kDoubleClickIntervalMs / 1000.0; }

}  // namespace appkit
