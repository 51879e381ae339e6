#pragma once
// The desktop's URL services: opening a URL with the user's default
// application, and making this application the default handler of a URL
// scheme while a registration lives.  Main thread only.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/CharArray.h"

namespace os {

// Opens the URL (NUL-terminated UTF-8, may be null) with the default
// application.  True when the system took it; a text that is not a URL or
// a refused open gives false and a debug line on "openUrl".  Never throws.
bool openUrl(const char* url);

// This application as the default handler of a scheme.
class UrlSchemeHandler {
 public:
  // Registers the application (its name and executable path) for the
  // scheme.  A refusal throws os::OSStatusException
  // "LSSetDefaultHandlerForURLScheme" with the status.
  explicit UrlSchemeHandler(const char* scheme);
  UrlSchemeHandler(const UrlSchemeHandler&) = delete;
  UrlSchemeHandler& operator=(const UrlSchemeHandler&) = delete;

  // Leaves the scheme without a default handler; the outcome is ignored.
  void clear() noexcept;
  const char* scheme() const noexcept { return scheme_.get(); }

 private:
  plat::CharArray scheme_;
};

// What callers hold: the registration, cleared on destruction when asked.
class UrlSchemeRegistration {
 public:
  // The handler's failure passes on, and nothing is kept.
  UrlSchemeRegistration(const char* scheme, int32_t clearOnDestroy);
  ~UrlSchemeRegistration();
  UrlSchemeRegistration(const UrlSchemeRegistration&) = delete;
  UrlSchemeRegistration& operator=(const UrlSchemeRegistration&) = delete;

  // Clears at once, whatever the flag.
  void clear() noexcept;

 private:
  int32_t clearOnDestroy_;
  std::unique_ptr<UrlSchemeHandler> handler_;
};

}  // namespace os
