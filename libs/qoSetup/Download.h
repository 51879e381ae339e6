#pragma once
// qoSetup::Download: one HTTP GET of a package file, with no time limit, a
// body limit of 1 GiB and a progress report every second.  It starts when
// it is made and reports its end to its callback, which may delete it
// there.

#include <cstdint>
#include <memory>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/plat/Timer.h"

namespace qoSetup {

class Download : public http::HttpCallback, public plat::Timer::Callback {
 public:
  static constexpr int32_t kMaxBodySize = 1 << 30;
  static constexpr int kProgressMs = 1000;

  // The request's owner in all but name: it decides the status and hears
  // the end; between, the progress (total -1 when the answer gives no
  // size).
  class Callback : public http::HttpCallback {
   public:
    virtual void downloadProgress(http::HttpRequest& request, int64_t received, int64_t total) = 0;
  };

  // Both borrowed.  Creates and starts the request at once; a URI the
  // client refuses throws and nothing starts.
  Download(Callback* callback, http::HttpClient* client, const char* uri);
  // Cancels the request when it has not ended.
  ~Download() override;
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;

  http::HttpRequest& request() noexcept { return *request_; }

  bool acceptStatus(http::HttpRequest& request, int32_t status) override;
  void onSucceeded(http::HttpRequest& request) override;
  void onFailed(http::HttpRequest& request, const plat::Exception& error) override;
  // The progress report; runs again until the request ends.
  bool timerExpired(plat::Timer* timer) override;

 private:
  Callback* callback_;
  plat::Timer progressTimer_;
  std::unique_ptr<http::HttpRequest> request_;
};

}  // namespace qoSetup
