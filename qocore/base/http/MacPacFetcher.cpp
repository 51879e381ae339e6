#include "qocore/base/http/MacPacFetcher.h"

#include <atomic>
#include <cstring>
#include <string>

#include "qocore/base/http/DownloadUrlContent.h"
#include "qocore/base/os/mac/CFException.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace http {

namespace {

PLAT_LOG_SOURCE(vlog, "MacPacFetcher");

// The script interface knows only PROXY and SOCKS: the wrapper rewrites
// the other words of an answer before it is parsed.
constexpr const char* kAnswerWrapper =
    "\nvar __origFPFU=FindProxyForURL;FindProxyForURL=function(u,h){var r=__origFPFU(u,h);return "
    "r?r.replace(/SOCKS5 /gi,'SOCKS ').replace(/HTTPS /gi,'PROXY ').replace(/HTTP /gi,'PROXY '):r;};\n";

std::atomic<int> replyMs{90000};
std::atomic<int> executeMs{60000};
std::atomic<int> scriptMs{30000};

const char* orNull(const char* text) { return text ? text : "(null)"; }

plat::CharArray endpoint(const char* host, long port) {
  bool v6 = std::strchr(host, ':') != nullptr;
  return plat::DString::format(v6 ? "[%s]:%ld" : "%s:%ld", host, port);
}

}  // namespace

PacTimeLimits pacTimeLimits() noexcept { return {replyMs.load(), executeMs.load(), scriptMs.load()}; }

void setPacTimeLimits(const PacTimeLimits& limits) noexcept {
  replyMs = limits.replyMs;
  executeMs = limits.executeMs;
  scriptMs = limits.scriptMs;
}

MacPacFetcher::MacPacFetcher(const char* host, uint32_t port, const io::ProxyCredentials& credentials,
                             const char* pacUrl)
    : host_(host), port_(port), credentials_(credentials), pacUrl_(pacUrl), timeout_(this), starter_(this) {}

MacPacFetcher::~MacPacFetcher() {
  timeout_.cancel();
  starter_.cancel();
}

void MacPacFetcher::fetch(io::ProxyFetcherCallback* cb) {
  callback_ = cb;
  starter_.start(0);
}

plat::CharArray MacPacFetcher::targetUrl(const char* host, uint32_t port) {
  return plat::DString::format("https://%s/", endpoint(host, port).c_str());
}

bool MacPacFetcher::timerExpired(plat::Timer* timer) {
  if (timer == &starter_) {
    try {
      start();
    } catch (const plat::Exception& e) {
      fail(e);
    }
    return false;
  }
  execution_.reset();
  running_ = false;
  fail(plat::Exception("PAC execution timed out"));
  return false;
}

void MacPacFetcher::start() {
  vlog().debug("Fetching PAC from URL: %s", pacUrl_.c_str());
  if (!*pacUrl_.c_str()) throw plat::Exception("Invalid ProxyAutoConfigURLString");
  plat::CharArray target = targetUrl(host_.c_str(), port_);
  execution_ = std::make_unique<cfnetwork::PacUrlExecution>(pacUrl_.c_str(), target.c_str(), host_.c_str(), this);
  running_ = true;
  timeout_.start(pacTimeLimits().executeMs);
}

void MacPacFetcher::pacExecuted(cfnetwork::PacUrlExecution&, const cfnetwork::PacOutcome& outcome) {
  if (!running_) return;
  timeout_.cancel();
  running_ = false;
  plat::CharArray proxyUrl;
  try {
    if (!outcome.ok) throw os::CFException("", outcome.error.description.c_str(), outcome.error.code);
    proxyUrl = proxyUrlFromEntries(outcome.proxies);
  } catch (const plat::Exception& first) {
    char text[plat::Exception::kMsgSize];
    first.format(text);
    vlog().debug("CFNetwork PAC handling failed: %s", text);
    vlog().debug("Trying fallback PAC execution via CFNetwork script API");
    try {
      proxyUrl = fallback();
      if (!proxyUrl) vlog().debug("Fallback PAC execution returned no usable proxy");
    } catch (const plat::Exception& second) {
      char secondText[plat::Exception::kMsgSize];
      second.format(secondText);
      vlog().debug("Fallback PAC execution failed: %s", secondText);
    }
    if (!proxyUrl) {
      execution_.reset();
      fail(first);
      return;
    }
  }
  // The evaluation is over; its worker has gone.
  execution_.reset();
  answer(proxyUrl.c_str());
}

plat::CharArray MacPacFetcher::fallback() {
  size_t length = 0;
  plat::CharArray script = downloadUrlContent(pacUrl_.c_str(), length);
  if (!script) {
    vlog().debug("Failed to download PAC file for fallback execution");
    return {};
  }
  std::string wrapped(script.get(), length);
  wrapped += kAnswerWrapper;
  plat::CharArray target = targetUrl(host_.c_str(), port_);
  cfnetwork::PacOutcome outcome;
  if (!cfnetwork::executePacScript(wrapped.data(), wrapped.size(), target.c_str(), host_.c_str(),
                                   pacTimeLimits().scriptMs, outcome)) {
    vlog().debug("CFNetwork script PAC execution timed out");
    return {};
  }
  if (!outcome.ok) {
    vlog().debug("CFNetwork script PAC execution returned error");
    return {};
  }
  return proxyUrlFromEntries(outcome.proxies);
}

plat::CharArray MacPacFetcher::proxyUrlFromEntries(const std::vector<cfnetwork::PacProxy>& entries) {
  vlog().debug("PAC callback returned %d entries", static_cast<int>(entries.size()));
  int index = 0;
  for (const cfnetwork::PacProxy& entry : entries) {
    plat::CharArray version = entry.socksVersion ? plat::DString::format("%d", entry.socksVersion) : plat::CharArray();
    vlog().debug("PAC entry %d: type=%s host=%s port=%d socksVersion=%s", index, cfnetwork::proxyTypeName(entry),
                 orNull(entry.host.get()), entry.port, orNull(version.get()));
    switch (entry.type) {
      case cfnetwork::ProxyType::kNone:
        return plat::CharArray("direct://");
      case cfnetwork::ProxyType::kSocks:
        if (!entry.host || entry.port < 0) break;
        if (entry.socksVersion == 0 || entry.socksVersion == 5)
          return plat::DString::format("socks://%s", endpoint(entry.host.get(), entry.port).c_str());
        vlog().debug("PAC entry %d: unrecognized type '%s', skipping", index, "kCFProxyTypeSOCKS4");
        break;
      case cfnetwork::ProxyType::kHttp:
      case cfnetwork::ProxyType::kHttps:
        if (!entry.host || entry.port < 0) break;
        return plat::DString::format("http://%s", endpoint(entry.host.get(), entry.port).c_str());
      case cfnetwork::ProxyType::kUnknown:
        vlog().debug("PAC entry %d: unrecognized type '%s', skipping", index, cfnetwork::proxyTypeName(entry));
        break;
    }
    ++index;
  }
  throw plat::Exception("No proxies returned in PAC callback");
}

void MacPacFetcher::fail(const plat::Exception& e) {
  char text[plat::Exception::kMsgSize];
  e.format(text);
  vlog().debug("PAC execution failed: %s", text);
  vlog().debug("PAC executor falling back to direct");
  timeout_.cancel();
  answer("direct://");
}

void MacPacFetcher::answer(const char* proxyUrl) {
  io::ProxyFetcherCallback* cb = callback_;
  callback_ = nullptr;
  if (cb) cb->onProxy(*this, proxyUrl, credentials_);
}

}  // namespace http
