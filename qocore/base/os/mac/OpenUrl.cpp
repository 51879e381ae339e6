#include "qocore/base/os/mac/OpenUrl.h"

#include "platform/launchsvc/LaunchServices.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/OSStatusException.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Path.h"

namespace os {

namespace {
PLAT_LOG_SOURCE(vlog, "openUrl");
}  // namespace

bool openUrl(const char* url) {
  int32_t status = url ? launchsvc::openUrl(url) : launchsvc::kParamErr;
  if (status == launchsvc::kNoErr) {
    vlog().debug("Opened url: %s", url);
    return true;
  }
  vlog().debug("Failed to open url: %s", url ? url : "(null)");
  return false;
}

UrlSchemeHandler::UrlSchemeHandler(const char* scheme) : scheme_(scheme) {
  // There is no bundle identifier here: the application is named by its
  // name, or without one by its executable's file name.
  const char* program = getExecutablePath();
  plat::CharArray name(getAppName(true));
  if (!*name.c_str() && program) name = plat::baseName(program);
  launchsvc::HandlerApp app{name.c_str(), program};
  int32_t status = launchsvc::setDefaultHandler(scheme_.get(), &app);
  if (status != launchsvc::kNoErr) throw OSStatusException("LSSetDefaultHandlerForURLScheme", status);
}

void UrlSchemeHandler::clear() noexcept { (void)launchsvc::setDefaultHandler(scheme_.get(), nullptr); }

UrlSchemeRegistration::UrlSchemeRegistration(const char* scheme, int32_t clearOnDestroy)
    : clearOnDestroy_(clearOnDestroy), handler_(std::make_unique<UrlSchemeHandler>(scheme)) {}

UrlSchemeRegistration::~UrlSchemeRegistration() {
  if (clearOnDestroy_) handler_->clear();
}

void UrlSchemeRegistration::clear() noexcept { handler_->clear(); }

}  // namespace os
