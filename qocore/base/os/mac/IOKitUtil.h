#pragma once
// The IOKit helpers of the OS layer: the failure type every IOKit call
// throws, a holder that releases an IOKit object, the service lookup and a
// service connection.

#include <cstdint>

#include "qocore/base/plat/Exception.h"

namespace os {

// The message is the text, then " failed: <status>" when the status is
// not zero; the type name is "IOKit".
class IOKitException : public plat::Exception {
 public:
  IOKitException(const char* text, int32_t status) noexcept;
  int32_t status() const noexcept { return status_; }

 private:
  int32_t status_;
};

// Holds one IOKit object handle (0: none) and releases it on destruction
// and replacement.
class IOObject {
 public:
  explicit IOObject(uint32_t handle = 0) noexcept : handle_(handle) {}
  ~IOObject() { reset(); }
  IOObject(const IOObject&) = delete;
  IOObject& operator=(const IOObject&) = delete;

  uint32_t get() const noexcept { return handle_; }
  void reset(uint32_t handle = 0) noexcept;

 private:
  uint32_t handle_;
};

// The first service matching a class name.  None: IOKitException
// "IOServiceGetMatchingService failed".
class IOService : public IOObject {
 public:
  explicit IOService(const char* name);
};

// A connection of the given type to a service; closed on destruction
// unless released.  A refused open throws ("IOServiceOpen", status).
class IOConnect {
 public:
  IOConnect(const IOObject& service, uint32_t type);
  ~IOConnect();
  IOConnect(const IOConnect&) = delete;
  IOConnect& operator=(const IOConnect&) = delete;

  uint32_t get() const noexcept { return handle_; }
  // Hands the connection to the caller, who closes it.
  uint32_t release() noexcept;

 private:
  uint32_t handle_ = 0;
};

// Closes a connection handle (0: nothing).
void closeConnection(uint32_t handle) noexcept;

}  // namespace os
