#include "platform/cfnetwork/PacScript.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/cfnetwork/PacLibraries.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"

namespace cfnetwork {

namespace {

// The standard PAC functions over three natives: __pacResolve(host) (the
// first IPv4 address, or null), __pacMyIp() and __pacNow(gmt) ([year,
// month 0-11, day, weekday 0-6, hours, minutes, seconds]).
constexpr const char* kPacFunctions = R"js(
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
  host = String(host); domain = String(domain);
  return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}
function localHostOrDomainIs(host, hostdom) {
  host = String(host); hostdom = String(hostdom);
  return host === hostdom || (host.indexOf('.') < 0 && hostdom.indexOf(host + '.') === 0);
}
function dnsResolve(host) { return __pacResolve(String(host)); }
function isResolvable(host) { return __pacResolve(String(host)) !== null; }
function myIpAddress() { return __pacMyIp(); }
function dnsDomainLevels(host) { return String(host).split('.').length - 1; }
function __pacIp(text) {
  var m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(String(text));
  if (!m) return null;
  var v = 0;
  for (var i = 1; i <= 4; i++) { var b = +m[i]; if (b > 255) return null; v = v * 256 + b; }
  return v;
}
function isInNet(host, pattern, mask) {
  var a = __pacIp(host);
  if (a === null) { var r = __pacResolve(String(host)); if (r === null) return false; a = __pacIp(r); }
  var p = __pacIp(pattern), m = __pacIp(mask);
  if (a === null || p === null || m === null) return false;
  return ((a & m) >>> 0) === ((p & m) >>> 0);
}
function shExpMatch(str, shexp) {
  var re = String(shexp).replace(/[.+^${}()|[\]\\\/]/g, '\\$&').replace(/\*/g, '.*').replace(/\?/g, '.');
  return new RegExp('^' + re + '$').test(String(str));
}
var __pacDays = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __pacMonths = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
function __pacArgs(args) {
  var list = Array.prototype.slice.call(args), gmt = false;
  if (list.length > 0 && String(list[list.length - 1]).toUpperCase() === 'GMT') { gmt = true; list.pop(); }
  return { list: list, now: __pacNow(gmt) };
}
function __pacInRange(lo, x, hi) { return lo <= hi ? lo <= x && x <= hi : x >= lo || x <= hi; }
function weekdayRange() {
  var a = __pacArgs(arguments), l = a.list;
  if (l.length < 1 || l.length > 2) return false;
  var d1 = __pacDays.indexOf(String(l[0]).toUpperCase());
  var d2 = l.length === 2 ? __pacDays.indexOf(String(l[1]).toUpperCase()) : d1;
  if (d1 < 0 || d2 < 0) return false;
  return __pacInRange(d1, a.now[3], d2);
}
function dateRange() {
  var a = __pacArgs(arguments), l = a.list, now = a.now;
  // Each value is a day (1-31), a month name or a year; the two ends of a
  // range name the same fields.
  var parts = [];
  for (var i = 0; i < l.length; i++) {
    var month = __pacMonths.indexOf(String(l[i]).toUpperCase());
    if (month >= 0) parts.push({ f: 1, v: month });
    else if (typeof l[i] === 'number' && l[i] >= 1 && l[i] <= 31) parts.push({ f: 2, v: l[i] });
    else if (typeof l[i] === 'number' && l[i] > 31) parts.push({ f: 0, v: l[i] });
    else return false;
  }
  var half = parts.length === 1 ? 1 : parts.length / 2;
  if (parts.length < 1 || parts.length > 6 || (parts.length > 1 && parts.length % 2)) return false;
  var lo = 0, hi = 0, x = 0, hasYear = false;
  var scale = [10000, 100, 1], nowField = [now[0], now[1], now[2]];
  for (var j = 0; j < half; j++) {
    var s = parts[j], e = parts.length === 1 ? parts[0] : parts[j + half];
    if (s.f !== e.f) return false;
    if (s.f === 0) hasYear = true;
    lo += s.v * scale[s.f]; hi += e.v * scale[e.f]; x += nowField[s.f] * scale[s.f];
  }
  return hasYear ? lo <= x && x <= hi : __pacInRange(lo, x, hi);
}
function timeRange() {
  // Numbers or numeric strings; the range includes its end hour, minute
  // or second, and a reversed range holds no time (it does not wrap round
  // midnight).
  var a = __pacArgs(arguments), l = [], now = a.now;
  for (var i = 0; i < a.list.length; i++) {
    var t = typeof a.list[i], v = Number(a.list[i]);
    if ((t !== 'number' && t !== 'string') || isNaN(v)) return false;
    l.push(v);
  }
  var x = now[4] * 3600 + now[5] * 60 + now[6];
  if (l.length === 1) return now[4] === l[0];
  if (l.length === 2) return l[0] * 3600 <= x && x <= l[1] * 3600 + 3599;
  if (l.length === 4) return l[0] * 3600 + l[1] * 60 <= x && x <= l[2] * 3600 + l[3] * 60 + 59;
  if (l.length === 6) return l[0] * 3600 + l[1] * 60 + l[2] <= x && x <= l[3] * 3600 + l[4] * 60 + l[5];
  return false;
}
)js";

// The first IPv4 address of host; "localhost" is answered here, so no
// lookup leaves the machine for it.
std::string resolve(const char* host) {
  if (strcasecmp(host, "localhost") == 0) return "127.0.0.1";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return {};
  char text[INET_ADDRSTRLEN] = "";
  const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
  freeaddrinfo(found);
  return text;
}

duk_ret_t nativeResolve(duk_context* ctx) {
  const Duktape& js = openedDuktape();
  std::string address = resolve(js.safe_to_string(ctx, 0));
  if (address.empty())
    js.push_null(ctx);
  else
    js.push_string(ctx, address.c_str());
  return 1;
}

// The address this machine would use to reach the outside (no packet is
// sent by connecting a datagram socket), else the loopback address.
duk_ret_t nativeMyIp(duk_context* ctx) {
  std::string address = "127.0.0.1";
  plat::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(53);
  inet_pton(AF_INET, "192.0.2.1", &to.sin_addr);
  sockaddr_in self{};
  socklen_t selfLength = sizeof(self);
  char text[INET_ADDRSTRLEN] = "";
  if (fd.get() >= 0 && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0 &&
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&self), &selfLength) == 0 &&
      inet_ntop(AF_INET, &self.sin_addr, text, sizeof(text)) && self.sin_addr.s_addr != 0)
    address = text;
  openedDuktape().push_string(ctx, address.c_str());
  return 1;
}

duk_ret_t nativeNow(duk_context* ctx) {
  const Duktape& js = openedDuktape();
  bool gmt = js.to_boolean(ctx, 0);
  time_t seconds = static_cast<time_t>((plat::getTime() - plat::kUnixEpoch) / plat::kTicksPerSecond);
  tm parts{};
  if (gmt)
    gmtime_r(&seconds, &parts);
  else
    localtime_r(&seconds, &parts);
  const int fields[] = {parts.tm_year + 1900, parts.tm_mon, parts.tm_mday, parts.tm_wday,
                        parts.tm_hour,        parts.tm_min, parts.tm_sec};
  duk_idx_t array = js.push_array(ctx);
  for (duk_uarridx_t i = 0; i < sizeof(fields) / sizeof(fields[0]); ++i) {
    js.push_int(ctx, fields[i]);
    js.put_prop_index(ctx, array, i);
  }
  return 1;
}

void fail(CFError& error, const std::string& text) {
  error.description = plat::CharArray(text.c_str());
  error.code = kPacFileError;
}

// What one heap has taken.  Each block carries its size in front, so that
// resizing and freeing keep the count; the front stays aligned as malloc's
// blocks are.
struct HeapBudget {
  size_t used = 0;
};
constexpr size_t kBlockFront = alignof(std::max_align_t);

size_t blockSize(void* block) {
  size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  return size;
}

// Refuses (null) what would take the heap past kMaxHeapBytes: the engine
// then collects garbage and, when that frees too little, throws a
// RangeError in the script.
void* resizeBlock(void* udata, void* ptr, duk_size_t size) {
  auto& budget = *static_cast<HeapBudget*>(udata);
  void* block = ptr ? static_cast<unsigned char*>(ptr) - kBlockFront : nullptr;
  const size_t old = block ? blockSize(block) : 0;
  if (size == 0) {
    budget.used -= old;
    std::free(block);
    return nullptr;
  }
  if (size > kMaxHeapBytes - kBlockFront || budget.used - old + kBlockFront + size > kMaxHeapBytes) return nullptr;
  void* resized = std::realloc(block, kBlockFront + size);
  if (!resized) return nullptr;
  const size_t taken = kBlockFront + size;
  budget.used = budget.used - old + taken;
  std::memcpy(resized, &taken, sizeof taken);
  return static_cast<unsigned char*>(resized) + kBlockFront;
}

void* allocateBlock(void* udata, duk_size_t size) { return resizeBlock(udata, nullptr, size); }

void freeBlock(void* udata, void* ptr) {
  if (ptr) (void)resizeBlock(udata, ptr, 0);
}

// The heap, within its budget, is freed on every path.
struct Heap {
  explicit Heap(const Duktape& js)
      : js(js), ctx(js.create_heap(allocateBlock, resizeBlock, freeBlock, &budget, nullptr)) {}
  ~Heap() {
    if (ctx) js.destroy_heap(ctx);
  }
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;
  const Duktape& js;
  HeapBudget budget;
  duk_context* ctx;
};

struct Kind {
  const char* word;
  ProxyType type;
  int socksVersion;
};

// clang-format off
constexpr Kind kKinds[] = {
  {"DIRECT", ProxyType::kNone, 0},
  {"PROXY", ProxyType::kHttp, 0},
  {"HTTP", ProxyType::kHttp, 0},
  {"HTTPS", ProxyType::kHttps, 0},
  {"SOCKS", ProxyType::kSocks, 0},
  {"SOCKS5", ProxyType::kSocks, 5},
  {"SOCKS4", ProxyType::kSocks, 4},
};
// clang-format on

int32_t defaultPort(ProxyType type) {
  switch (type) {
    case ProxyType::kHttp:
      return 80;
    case ProxyType::kHttps:
      return 443;
    case ProxyType::kSocks:
      return 1080;
    default:
      return -1;
  }
}

// "host", "host:port" or "[v6]:port" into the entry; a port that is not a
// number from 0 to 65535 leaves the entry without one (-1).
void splitEndpoint(const std::string& text, PacProxy& proxy) {
  std::string host = text;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    host = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < text.size() && text[close + 1] == ':') port = text.substr(close + 2);
  } else if (size_t colon = text.rfind(':'); colon != std::string::npos && text.find(':') == colon) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  proxy.host = plat::CharArray(host.c_str());
  proxy.port = defaultPort(proxy.type);
  if (port.empty()) return;
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
    proxy.port = -1;
    return;
  }
  proxy.port = std::stoi(port);
}

}  // namespace

bool evaluatePacScript(const char* script, size_t length, const char* url, const char* host, plat::CharArray& answer,
                       CFError& error) {
  plat::CharArray missing;
  const Duktape* engine = duktape(missing);
  if (!engine) {
    fail(error, std::string("Cannot load the JavaScript engine: ") + missing.c_str());
    return false;
  }
  const Duktape& js = *engine;
  Heap heap(js);
  duk_context* ctx = heap.ctx;
  if (!ctx) {
    fail(error, "Cannot create the JavaScript engine");
    return false;
  }
  js.push_c_function(ctx, nativeResolve, 1);
  js.put_global_string(ctx, "__pacResolve");
  js.push_c_function(ctx, nativeMyIp, 0);
  js.put_global_string(ctx, "__pacMyIp");
  js.push_c_function(ctx, nativeNow, 1);
  js.put_global_string(ctx, "__pacNow");
  if (js.peval(ctx, kPacFunctions, std::strlen(kPacFunctions)) != 0) {
    fail(error, std::string("PAC functions: ") + js.safe_to_string(ctx, -1));
    return false;
  }
  js.pop(ctx);
  if (js.peval(ctx, script, length) != 0) {
    fail(error, std::string("PAC script error: ") + js.safe_to_string(ctx, -1));
    return false;
  }
  js.pop(ctx);
  if (!js.get_global_string(ctx, "FindProxyForURL") || !js.is_function(ctx, -1)) {
    fail(error, "PAC script does not define FindProxyForURL");
    return false;
  }
  js.push_string(ctx, url);
  js.push_string(ctx, host);
  if (js.pcall(ctx, 2) != 0) {
    fail(error, std::string("PAC script error: ") + js.safe_to_string(ctx, -1));
    return false;
  }
  if (!js.is_string(ctx, -1)) {
    fail(error, "FindProxyForURL did not return a string");
    return false;
  }
  duk_size_t size = 0;
  const char* text = js.get_lstring(ctx, -1, &size);
  answer = plat::CharArray(std::string(text, size).c_str());
  return true;
}

std::vector<PacProxy> parsePacAnswer(const char* answer) {
  std::vector<PacProxy> entries;
  std::string text = answer ? answer : "";
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    start = end + 1;
    size_t wordStart = item.find_first_not_of(" \t\r\n");
    if (wordStart == std::string::npos) continue;
    size_t wordEnd = item.find_first_of(" \t\r\n", wordStart);
    std::string word = item.substr(wordStart, wordEnd == std::string::npos ? std::string::npos : wordEnd - wordStart);
    std::string rest;
    if (wordEnd != std::string::npos) {
      size_t restStart = item.find_first_not_of(" \t\r\n", wordEnd);
      if (restStart != std::string::npos)
        rest = item.substr(restStart, item.find_first_of(" \t\r\n", restStart) - restStart);
    }
    PacProxy proxy;
    proxy.type = ProxyType::kUnknown;
    for (const Kind& kind : kKinds) {
      if (strcasecmp(word.c_str(), kind.word) == 0) {
        proxy.type = kind.type;
        proxy.socksVersion = kind.socksVersion;
      }
    }
    if (proxy.type == ProxyType::kUnknown) proxy.typeName = plat::CharArray(word.c_str());
    if (proxy.type != ProxyType::kNone && !rest.empty()) splitEndpoint(rest, proxy);
    entries.push_back(std::move(proxy));
  }
  return entries;
}

const char* proxyTypeName(const PacProxy& proxy) noexcept {
  switch (proxy.type) {
    case ProxyType::kNone:
      return "kCFProxyTypeNone";
    case ProxyType::kHttp:
      return "kCFProxyTypeHTTP";
    case ProxyType::kHttps:
      return "kCFProxyTypeHTTPS";
    case ProxyType::kSocks:
      return "kCFProxyTypeSOCKS";
    case ProxyType::kUnknown:
      break;
  }
  return proxy.typeName.c_str();
}

namespace {

struct Download {
  std::string body;
  bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
  auto* download = static_cast<Download*>(user);
  size_t bytes = size * count;
  if (download->body.size() + bytes > static_cast<size_t>(kMaxScriptBytes)) {
    download->tooLarge = true;
    return 0;
  }
  download->body.append(data, bytes);
  return bytes;
}

}  // namespace

bool downloadUrl(const char* url, plat::CharArray& body, size_t& length, plat::CharArray& error) {
  plat::CharArray missing;
  const Curl* opened = cfnetwork::curl(missing);
  if (!opened) {
    error = plat::CharArray((std::string("Cannot load the download library: ") + missing.c_str()).c_str());
    return false;
  }
  const Curl& lib = *opened;
  CURL* curl = lib.easy_init();
  if (!curl) {
    error = plat::CharArray("Cannot start the download");
    return false;
  }
  Download download;
  char curlError[CURL_ERROR_SIZE] = "";
  lib.easy_setopt(curl, CURLOPT_URL, url);
  lib.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
  lib.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  lib.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  // These downloads go direct: libcurl would otherwise obey http_proxy.
  lib.easy_setopt(curl, CURLOPT_PROXY, "");
  lib.easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  lib.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  lib.easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  lib.easy_setopt(curl, CURLOPT_ERRORBUFFER, curlError);
  lib.easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  lib.easy_setopt(curl, CURLOPT_WRITEDATA, &download);
  CURLcode result = lib.easy_perform(curl);
  lib.easy_cleanup(curl);
  if (download.tooLarge) {
    error = plat::CharArray("PAC file too large");
    return false;
  }
  if (result != CURLE_OK) {
    error = plat::CharArray(curlError[0] ? curlError : lib.easy_strerror(result));
    return false;
  }
  length = download.body.size();
  // A copy of every byte: a NUL inside the script is kept.
  body = plat::CharArray::zeroed(length + 1);
  std::memcpy(body.get(), download.body.data(), length);
  return true;
}

}  // namespace cfnetwork
