#pragma once
// A client of the HID system service: posts keyboard events and reads or
// sets the caps-lock state.  Not thread-safe: one thread uses an object.

#include <cstdint>
#include <set>

#include "platform/iokit/HidService.h"

namespace os {

class HidSystem {
 public:
  // Event types and flags of the platform's event system.
  static constexpr uint32_t kKeyDown = 10;
  static constexpr uint32_t kKeyUp = 11;
  static constexpr uint32_t kFlagsChanged = 12;
  static constexpr uint32_t kSystemDefined = 14;
  static constexpr uint32_t kAuxControlButtons = 8;  // subtype of system-defined events
  static constexpr uint32_t kNonCoalesced = 0x100;   // added to every posted event's flags
  static constexpr uint32_t kSetGlobalFlags = 1;     // option: the flags become the global ones

  HidSystem() = default;
  // Closes the connection.
  ~HidSystem();
  HidSystem(const HidSystem&) = delete;
  HidSystem& operator=(const HidSystem&) = delete;

  // Connects to "IOHIDSystem".  Throws os::IOKitException.
  void open();

  // Each throws os::IOKitException naming the call when it fails.
  bool getCapsLock();
  void setCapsLock(bool on);
  // Posts with the flags OR kNonCoalesced.
  void postEvent(uint32_t type, iokit::Point location, const iokit::EventData& data, uint32_t flags, uint32_t options);
  // Posts on a given connection with the flags as given.
  static void postEventRaw(uint32_t handle, uint32_t type, iokit::Point location, const iokit::EventData& data,
                           uint32_t flags, uint32_t options);
  // A media or special key as a system-defined event.
  void postAuxKey(int32_t keyCode, bool down);
  // A modifier key: the held set and flags follow, then a flags-changed
  // event, or a key event when the flags stay the same (caps lock).  The
  // new flags are kept even when posting fails.
  void postModifierKey(int32_t keyCode, bool down);

  uint32_t handle() const noexcept { return connect_; }
  uint32_t flags() const noexcept { return flags_; }
  const std::set<int32_t>& heldKeys() const noexcept { return held_; }

 private:
  uint32_t connect_ = 0;
  uint32_t flags_ = 0;
  std::set<int32_t> held_;
};

}  // namespace os
