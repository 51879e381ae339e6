#pragma once
// Stands in for CFNetwork's copy of the system proxy settings and for the
// keychain's proxy passwords.  Backed by the environment, lower-case names
// before upper-case ones:
//   http_proxy   the HTTP proxy ("HTTPEnable", "HTTPProxy", "HTTPPort")
//   https_proxy  the HTTPS proxy ("HTTPS..." keys)
//   all_proxy    with a "socks" or "socks5" scheme the SOCKS proxy
//                ("SOCKS..." keys); with another scheme the HTTP and HTTPS
//                proxies where those are not set; "socks4" is not offered
//                (logged)
//   no_proxy     "ExceptionsList": each item "d" as "d" and ".d"; "*" as is
// Linux has no automatic configuration setting: no proxy auto-config key
// is ever present.  A proxy URL's user information stands for the
// password the keychain would keep for that proxy.

#include <cstdint>

#include "platform/cf/Dictionary.h"
#include "qocore/base/plat/CharArray.h"

namespace cfnetwork {

// The keychain's protocol codes of proxies.
constexpr uint32_t kProtocolHttpProxy = 0x68747078;   // 'htpx'
constexpr uint32_t kProtocolHttpsProxy = 0x68747378;  // 'htsx'
constexpr uint32_t kProtocolSocks = 0x736f7820;       // 'sox '

cf::Dictionary copySystemProxySettings();

// Test seam: settings from `fn` in place of the environment's (null
// restores them); returns the previous replacement.
using SystemProxySettingsFn = cf::Dictionary (*)();
SystemProxySettingsFn setSystemProxySettingsForTest(SystemProxySettingsFn fn) noexcept;

// The user and password of the environment's proxy of that protocol when
// its host (ignoring case) and port match; false, with both emptied, when
// none is set.  A proxy written without a port matches any port.
[[nodiscard]] bool findProxyUserInfo(const char* host, uint16_t port, uint32_t protocol, plat::CharArray& user,
                                     plat::CharArray& password);

}  // namespace cfnetwork
