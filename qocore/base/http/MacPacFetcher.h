#pragma once
// http::MacPacFetcher: the proxy for one target from a proxy
// auto-configuration script, evaluated in this process.  The script is
// fetched and run by the system's PAC execution; when that fails the
// script is downloaded and run through the script interface (its HTTP,
// HTTPS and SOCKS5 answers rewritten to the words every evaluator knows);
// when that fails too, or the evaluation does not answer in time, the
// answer is "direct://".  The first usable entry of the answer wins.
//
// Runs on the loop thread; the script fallback blocks it for at most the
// script time limit.

#include <memory>

#include "platform/cfnetwork/PacExecution.h"
#include "qocore/base/io/ProxyFetcher.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Timer.h"

namespace http {

// The time limits of PAC evaluation, in ms: the helper's answer, the
// evaluation by URL and the script fallback.  A seam: tests shorten them
// (the helper child gets them on its command line).
struct PacTimeLimits {
  int replyMs = 90000;
  int executeMs = 60000;
  int scriptMs = 30000;
};
PacTimeLimits pacTimeLimits() noexcept;
void setPacTimeLimits(const PacTimeLimits& limits) noexcept;

class MacPacFetcher : public io::ProxyFetcher,
                      public plat::Timer::Callback,
                      public cfnetwork::PacUrlExecution::Callback {
 public:
  MacPacFetcher(const char* host, uint32_t port, const io::ProxyCredentials& credentials, const char* pacUrl);
  // Stops both timers and drops an evaluation still running.
  ~MacPacFetcher() override;

  // Answers exactly once, from the loop (never inside fetch).
  void fetch(io::ProxyFetcherCallback* cb) override;

  bool timerExpired(plat::Timer* timer) override;
  void pacExecuted(cfnetwork::PacUrlExecution& execution, const cfnetwork::PacOutcome& outcome) override;

  // The proxy URL of the first usable entry ("direct://", "http://h:p",
  // "socks://h:p"); throws plat::Exception "No proxies returned in PAC
  // callback" when none is usable.  Logs each entry.
  static plat::CharArray proxyUrlFromEntries(const std::vector<cfnetwork::PacProxy>& entries);

  // The target URL handed to FindProxyForURL: "https://host:port/".
  static plat::CharArray targetUrl(const char* host, uint32_t port);

 private:
  void start();
  // The fallback through the script interface: the proxy URL, or null.
  plat::CharArray fallback();
  void fail(const plat::Exception& e);
  void answer(const char* proxyUrl);

  plat::CharArray host_;
  uint32_t port_;
  io::ProxyCredentials credentials_;
  plat::CharArray pacUrl_;
  bool running_ = false;
  std::unique_ptr<cfnetwork::PacUrlExecution> execution_;
  io::ProxyFetcherCallback* callback_ = nullptr;
  plat::Timer timeout_;
  plat::Timer starter_;
};

}  // namespace http
