#include "qocore/base/os/mac/IOKitUtil.h"

#include "platform/iokit/HidService.h"

namespace os {

IOKitException::IOKitException(const char* text, int32_t status) noexcept : status_(status) {
  setMessage(text);
  if (status != 0) formatMessage(" failed: %d", static_cast<int>(status));
  setType("IOKit");
}

void IOObject::reset(uint32_t handle) noexcept {
  if (handle_ != 0) (void)iokit::objectRelease(handle_);
  handle_ = handle;
}

IOService::IOService(const char* name) : IOObject(iokit::serviceGetMatchingService(name)) {
  if (get() == 0) throw IOKitException("IOServiceGetMatchingService failed", 0);
}

IOConnect::IOConnect(const IOObject& service, uint32_t type) {
  handle_ = 0;
  int32_t status = iokit::serviceOpen(service.get(), type, &handle_);
  if (status != iokit::kIOReturnSuccess) {
    handle_ = 0;
    throw IOKitException("IOServiceOpen", status);
  }
}

IOConnect::~IOConnect() { closeConnection(handle_); }

uint32_t IOConnect::release() noexcept {
  uint32_t handle = handle_;
  handle_ = 0;
  return handle;
}

void closeConnection(uint32_t handle) noexcept {
  if (handle != 0) (void)iokit::serviceClose(handle);
}

}  // namespace os
