#include "qocore/base/os/mac/HidSystem.h"

#include "qocore/base/os/mac/IOKitUtil.h"

namespace os {

namespace {

// The flags a held modifier key contributes: the device-independent bit
// and the key's left or right device bit.  Caps lock (57) is a lock, not a
// held modifier.
uint32_t modifierFlags(int32_t keyCode) {
  switch (keyCode) {
    case 54:
      return 0x100010;  // right command
    case 55:
      return 0x100008;  // command
    case 56:
      return 0x20002;  // shift
    case 58:
      return 0x80020;  // option
    case 59:
      return 0x40001;  // control
    case 60:
      return 0x20004;  // right shift
    case 61:
      return 0x80040;  // right option
    case 62:
      return 0x42000;  // right control
    case 63:
      return 0x800000;  // function
    default:
      return 0;
  }
}

}  // namespace

HidSystem::~HidSystem() { closeConnection(connect_); }

void HidSystem::open() {
  IOService service("IOHIDSystem");
  IOConnect connection(service, iokit::kIOHIDParamConnectType);
  closeConnection(connect_);
  connect_ = connection.release();
}

bool HidSystem::getCapsLock() {
  bool on = false;
  int32_t status = iokit::hidGetModifierLockState(connect_, iokit::kIOHIDCapsLockState, &on);
  if (status != iokit::kIOReturnSuccess) throw IOKitException("IOHIDGetModifierLockState", status);
  return on;
}

void HidSystem::setCapsLock(bool on) {
  int32_t status = iokit::hidSetModifierLockState(connect_, iokit::kIOHIDCapsLockState, on);
  if (status != iokit::kIOReturnSuccess) throw IOKitException("IOHIDSetModifierLockState", status);
}

void HidSystem::postEvent(uint32_t type, iokit::Point location, const iokit::EventData& data, uint32_t flags,
                          uint32_t options) {
  postEventRaw(connect_, type, location, data, flags | kNonCoalesced, options);
}

void HidSystem::postEventRaw(uint32_t handle, uint32_t type, iokit::Point location, const iokit::EventData& data,
                             uint32_t flags, uint32_t options) {
  int32_t status = iokit::hidPostEvent(handle, type, location, data, iokit::kNXEventDataVersion, flags, options);
  if (status != iokit::kIOReturnSuccess) throw IOKitException("IOHIDPostEvent", status);
}

void HidSystem::postAuxKey(int32_t keyCode, bool down) {
  iokit::EventData data;
  data.subtype = kAuxControlButtons;
  data.words[0] = static_cast<int32_t>((static_cast<uint32_t>(keyCode) << 16) | (down ? 0x0A00u : 0x0B00u));
  postEvent(kSystemDefined, iokit::Point{}, data, flags_, 0);
}

void HidSystem::postModifierKey(int32_t keyCode, bool down) {
  const uint32_t before = flags_;
  if (down) {
    held_.insert(keyCode);
  } else {
    held_.erase(keyCode);
  }
  uint32_t flags = 0;
  for (int32_t key : held_) flags |= modifierFlags(key);
  flags_ = flags;

  iokit::EventData data;
  data.keyCode = static_cast<uint16_t>(keyCode);
  data.charSet = 0;
  if (flags == before) {
    postEvent(down ? kKeyDown : kKeyUp, iokit::Point{}, data, flags, 0);
  } else {
    postEvent(kFlagsChanged, iokit::Point{}, data, flags, kSetGlobalFlags);
  }
}

}  // namespace os
