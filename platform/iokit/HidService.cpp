#include "platform/iokit/HidService.h"

#include <cstring>
#include <set>

#include "qocore/base/plat/Mutex.h"

namespace iokit {

namespace {

constinit plat::Mutex stateMutex;

struct State {
  uint32_t nextHandle = 0x1000;
  std::set<uint32_t> services;     // references to "IOHIDSystem"
  std::set<uint32_t> connections;  // open HID parameter connections
  bool capsLock = false;
  std::vector<PostedEvent> posted;
};

State& state() PLAT_REQUIRES(stateMutex) {
  static auto* s = new State;
  return *s;
}

}  // namespace

uint32_t serviceGetMatchingService(const char* name) {
  if (name == nullptr || std::strcmp(name, "IOHIDSystem") != 0) return 0;
  plat::MutexLock lock(stateMutex);
  uint32_t handle = state().nextHandle++;
  state().services.insert(handle);
  return handle;
}

int32_t objectRelease(uint32_t object) {
  plat::MutexLock lock(stateMutex);
  return state().services.erase(object) ? kIOReturnSuccess : kIOReturnBadArgument;
}

int32_t serviceOpen(uint32_t service, uint32_t type, uint32_t* connect) {
  plat::MutexLock lock(stateMutex);
  if (connect == nullptr || !state().services.count(service) || type != kIOHIDParamConnectType) {
    return kIOReturnBadArgument;
  }
  *connect = state().nextHandle++;
  state().connections.insert(*connect);
  return kIOReturnSuccess;
}

int32_t serviceClose(uint32_t connect) {
  plat::MutexLock lock(stateMutex);
  return state().connections.erase(connect) ? kIOReturnSuccess : kIOReturnBadArgument;
}

int32_t hidGetModifierLockState(uint32_t connect, int32_t selector, bool* value) {
  plat::MutexLock lock(stateMutex);
  if (!state().connections.count(connect) || selector != kIOHIDCapsLockState || value == nullptr) {
    return kIOReturnBadArgument;
  }
  *value = state().capsLock;
  return kIOReturnSuccess;
}

int32_t hidSetModifierLockState(uint32_t connect, int32_t selector, bool value) {
  plat::MutexLock lock(stateMutex);
  if (!state().connections.count(connect) || selector != kIOHIDCapsLockState) return kIOReturnBadArgument;
  state().capsLock = value;
  return kIOReturnSuccess;
}

int32_t hidPostEvent(uint32_t connect, uint32_t type, Point location, const EventData& data, uint32_t version,
                     uint32_t flags, uint32_t options) {
  plat::MutexLock lock(stateMutex);
  if (!state().connections.count(connect) || version != kNXEventDataVersion) return kIOReturnBadArgument;
  state().posted.push_back(PostedEvent{connect, type, location, data, version, flags, options});
  return kIOReturnSuccess;
}

std::vector<PostedEvent> takePostedEvents() {
  plat::MutexLock lock(stateMutex);
  std::vector<PostedEvent> events;
  events.swap(state().posted);
  return events;
}

int openObjectCount() {
  plat::MutexLock lock(stateMutex);
  return static_cast<int>(state().services.size() + state().connections.size());
}

}  // namespace iokit
