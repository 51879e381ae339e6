#pragma once
// Stands in for the IOKit calls of the HID system client: the service
// lookup, opening a connection to a service, and the HID system service's
// modifier-lock and event-posting calls.  Backed by memory: the only
// service is "IOHIDSystem", posted events are recorded instead of reaching
// a display, and the caps-lock state is a flag.  Tests read and reset the
// record.

#include <cstdint>
#include <vector>

namespace iokit {

// Result codes (kern_return_t).
inline constexpr int32_t kIOReturnSuccess = 0;
inline constexpr int32_t kIOReturnBadArgument = static_cast<int32_t>(0xe00002c2);

// The connection type of the HID parameter connection.
inline constexpr uint32_t kIOHIDParamConnectType = 1;
// The modifier-lock selector of caps lock.
inline constexpr int32_t kIOHIDCapsLockState = 1;
// The event data version IOHIDPostEvent expects.
inline constexpr uint32_t kNXEventDataVersion = 2;

struct Point {
  int16_t x = 0;
  int16_t y = 0;
  bool operator==(const Point&) const = default;
};

// The parts of an event's data that the client fills: a key event's key
// code and character set, a system-defined event's subtype and data words.
struct EventData {
  uint16_t keyCode = 0;
  uint16_t charSet = 0;
  int16_t subtype = 0;
  int32_t words[11] = {};
  bool operator==(const EventData&) const = default;
};

struct PostedEvent {
  uint32_t connect = 0;
  uint32_t type = 0;
  Point location;
  EventData data;
  uint32_t version = 0;
  uint32_t flags = 0;
  uint32_t options = 0;
  bool operator==(const PostedEvent&) const = default;
};

// A new reference to the service of that class name, or 0 when none
// matches.
uint32_t serviceGetMatchingService(const char* name);
// Releases a reference; kIOReturnBadArgument for one not held.
int32_t objectRelease(uint32_t object);
// Opens a connection of the given type to a held service.
int32_t serviceOpen(uint32_t service, uint32_t type, uint32_t* connect);
int32_t serviceClose(uint32_t connect);

// The HID system calls; each refuses a connection that is not open.
int32_t hidGetModifierLockState(uint32_t connect, int32_t selector, bool* state);
int32_t hidSetModifierLockState(uint32_t connect, int32_t selector, bool state);
int32_t hidPostEvent(uint32_t connect, uint32_t type, Point location, const EventData& data, uint32_t version,
                     uint32_t flags, uint32_t options);

// ---- Tests ----
// The events posted so far, which are then forgotten.
std::vector<PostedEvent> takePostedEvents();
// References and connections still held.
int openObjectCount();

}  // namespace iokit
