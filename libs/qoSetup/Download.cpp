#include "libs/qoSetup/Download.h"

#include "libs/qoSetup/SetupTexts.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

}  // namespace

Download::Download(Callback* callback, http::HttpClient* client, const char* uri)
    : callback_(callback), progressTimer_(this), request_(client->createRequest("GET", uri)) {
  request_->setTimeout(-1);
  request_->setMaxBodySize(kMaxBodySize);
  // Armed first: an end reported from inside start stops it again.
  progressTimer_.start(kProgressMs);
  request_->start(this);
}

Download::~Download() { progressTimer_.cancel(); }

bool Download::acceptStatus(http::HttpRequest& request, int32_t status) {
  return callback_->acceptStatus(request, status);
}

void Download::onSucceeded(http::HttpRequest& request) {
  progressTimer_.cancel();
  // The callback may delete this download, request and all: nothing after.
  callback_->onSucceeded(request);
}

void Download::onFailed(http::HttpRequest& request, const plat::Exception& error) {
  progressTimer_.cancel();
  callback_->onFailed(request, error);
}

bool Download::timerExpired(plat::Timer*) {
  int32_t total = -1;
  const int32_t received = request_->progress(&total);
  // Armed again before the call: the callback may delete this download,
  // which cancels the timer, so nothing of it is touched afterwards.
  progressTimer_.start(kProgressMs);
  callback_->downloadProgress(*request_, received, total);
  return false;
}

}  // namespace qoSetup
