#pragma once
// The system's proxy configuration for one target (createSystemProxyFetcher
// in ProxySettings.h): a PAC URL (the _PacUrl parameter, else the
// system's when its automatic configuration is on) is evaluated in the PAC
// child (PacHelper.h) or, in a process that never offered that mode, in
// this process (MacPacFetcher.h); otherwise the manual HTTP, HTTPS and
// SOCKS proxies with their keychain passwords and the exception list go
// to the manual proxy choice, and "direct://" when it finds none.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"

namespace http {

// _PacUrl: a PAC URL that replaces the system's, even when the system's
// automatic configuration is off.
extern plat::StringParameter pacUrlParam;

// The keychain's password for the proxy (empty when none is kept); `user`
// receives the item's account name.  Port is the proxy's port, protocol
// one of the keychain's proxy protocol codes.
plat::CharArray findProxyPassword(const char* host, uint16_t port, uint32_t protocol, plat::CharArray& user);

}  // namespace http
