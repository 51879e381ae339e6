#pragma once
// Stands in for CFNetwork's proxy auto-configuration: the evaluation of a
// PAC script's FindProxyForURL, the list of proxies its answer names, and
// the download of a script by URL.  Backed by Debian's duktape (an
// embedded JavaScript engine) with the standard PAC functions written
// here, and by libcurl for the download, both opened on first use
// (PacLibraries.h): a library that cannot be opened fails the evaluation or
// the download with its reason.  The date and time functions read
// plat's replaceable wall clock; dnsResolve and isResolvable resolve
// through the system's resolver (literals and "localhost" never leave the
// machine).
//
// Duktape as Debian builds it cannot interrupt a running script, so a
// script that loops for ever keeps its thread: the callers evaluate on a
// worker thread and stop waiting for it (see PacExecution.h).  Its memory
// is bounded: each evaluation's heap takes at most kMaxHeapBytes, past
// which the script fails as any failing script does.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace cfnetwork {

// CFNetwork's error code of a PAC script that fails (kCFErrorPACFileError).
constexpr long kPacFileError = 309;

// The most memory one evaluation's JavaScript heap takes.
constexpr size_t kMaxHeapBytes = size_t{64} << 20;

// What failed, as a CFError carries it.
struct CFError {
  plat::CharArray description;
  long code = kPacFileError;
};

// The proxy kinds of an answer (kCFProxyType...).  kUnknown keeps the
// answer's own word in `typeName`.
enum class ProxyType { kNone, kHttp, kHttps, kSocks, kUnknown };

// One entry of a PAC answer.
struct PacProxy {
  ProxyType type = ProxyType::kNone;
  // The type's CFNetwork name, or the answer's word for kUnknown.
  plat::CharArray typeName;
  // Null for kNone.
  plat::CharArray host;
  // The entry's port, else the kind's default (HTTP 80, HTTPS 443, SOCKS
  // 1080); -1 for kNone and kUnknown without a port.
  int32_t port = -1;
  // 0 when the answer did not name one.
  int socksVersion = 0;
};

// Runs `script` (length bytes, not NUL-terminated) and calls
// FindProxyForURL(url, host).  True with the answer text; false with the
// error of a script that does not compile, throws, lacks FindProxyForURL
// or answers something other than a string.
[[nodiscard]] bool evaluatePacScript(const char* script, size_t length, const char* url, const char* host,
                                     plat::CharArray& answer, CFError& error);

// Splits an answer ("PROXY a:8080; SOCKS5 b; DIRECT") into its entries,
// in order; empty items are skipped.
std::vector<PacProxy> parsePacAnswer(const char* answer);

// The kind's name as CFNetwork names it ("kCFProxyTypeHTTP"...), or the
// entry's own word for kUnknown.
const char* proxyTypeName(const PacProxy& proxy) noexcept;

// The script downloads: http, https and file URLs only, never through a
// proxy, at most 30 s, and at most 1 MiB of body.
constexpr int32_t kMaxScriptBytes = 1 << 20;
// True with the body (NUL-terminated, `length` bytes) or false with the
// error's description ("PAC file too large" past the limit).
[[nodiscard]] bool downloadUrl(const char* url, plat::CharArray& body, size_t& length, plat::CharArray& error);

}  // namespace cfnetwork
