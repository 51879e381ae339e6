#pragma once
// What the capability and ticket tests share: the loop on a clock that the
// tests move forward, the mock cloud with its endpoint and hosted client,
// and an owner that records how a capability request ended.

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hosted/HostedException.h"
#include "libs/hostedremoteaccess/CapsClient.h"
#include "libs/hostedremoteaccess/CapsRequest.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/Time.h"
#include "testing/MockCloud.h"
#include "testing/RunUntil.h"

namespace caps_test {

inline std::string text(const plat::Buffer& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(bytes.count()));
}

inline plat::Buffer bytes(const std::string& text) {
  return plat::Buffer(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

// The host's monotonic clock moved forward by the waits the tests skip.
inline plat::TimeValue skewTicks = 0;
inline plat::TimeValue skewedClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return plat::timespecToTime(now.tv_sec, now.tv_nsec) + skewTicks;
}

// Records the end of a capability request (and every wait before it); it
// deletes the request inside the callback named in `deleteIn`.
struct Owner : hostedremoteaccess::CapsRequestCallback {
  void onCapsResponse(hostedremoteaccess::CapsRequest* r, const plat::Buffer& b, const char* type) override {
    ends++;
    outcome = "response";
    status = r->status();
    body = text(b);
    contentType = type ? type : "(null)";
    nextPage = r->nextLinkParam("page").c_str();
    if (deleteIn == "response") request.reset();
  }
  void onCapsError(hostedremoteaccess::CapsRequest*, const plat::Exception& e) override {
    ends++;
    outcome = "error";
    message = e.str();
    type = e.typeName();
    if (auto* h = dynamic_cast<const hosted::HostedException*>(&e)) reason = h->reason();
    if (deleteIn == "error") request.reset();
  }
  bool acceptStatus(hostedremoteaccess::CapsRequest*, int32_t s) override {
    asked.push_back(s);
    return s == 200;
  }
  void onCapsRetrying(hostedremoteaccess::CapsRequest*, int32_t delayMs) override {
    delays.push_back(delayMs);
    // The wait passes at once.
    skewTicks += static_cast<plat::TimeValue>(delayMs) * plat::kTicksPerMs;
    if (deleteIn == "retrying") request.reset();
  }

  std::unique_ptr<hostedremoteaccess::CapsRequest> request;
  std::string deleteIn;
  int ends = 0;
  std::string outcome;
  int status = 0;
  std::string body;
  std::string contentType;
  std::string nextPage;
  std::string message;
  std::string type;
  std::string reason;
  std::vector<int32_t> asked;
  std::vector<int32_t> delays;
};

// The loop on the skewed clock.
class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    skewTicks = 0;
    previousClock_ = plat::setMonotonicClock(&skewedClock);
    manager_ = std::make_unique<io::IoRunLoopManager>();
  }
  void TearDown() override {
    io::IpResolverMgr::shutdown();
    manager_.reset();
    plat::setMonotonicClock(previousClock_);
  }
  template <typename Pred>
  bool runUntil(Pred done) {
    return yarl_test::runUntil(manager_->runLoop(), done, std::chrono::seconds(10));
  }
  // Serves what the loop has now, waiting a little for loopback events.
  void settle() {
    for (int i = 0; i < 20; i++) manager_->runLoop().runOnce(10);
  }

  plat::MonotonicClockFn previousClock_ = nullptr;
  std::unique_ptr<io::IoRunLoopManager> manager_;
};

// A mock cloud, the endpoint of its package and a hosted client on it.
// Plain HTTP needs a hosted client told to serve "http" too.
class CloudTest : public LoopTest {
 protected:
  void startCloud(const std::string& script, yarl_test::MockCloudLayout layout = {}) {
    yarl_test::MockCloud::Options options;
    options.script = script;
    options.layout = layout;
    cloud_ = std::make_unique<yarl_test::MockCloud>(options);
    const std::string package = yarl_test::readFile(cloud_->folder() + "/CloudConfig.pkg");
    endpoint_ = plat::LinkedPtr<hosted::HostedEndpoint>(new hosted::HostedEndpoint(
        nullptr, static_cast<int32_t>(package.size()), package.data(), nullptr, nullptr, nullptr, nullptr));
    hostedClient_ = std::make_unique<hosted::HostedClient>(endpoint_, nullptr);
    if (layout.plain) dynamic_cast<http::NativeHttpClient&>(hostedClient_->httpClient()).setAllowPlainHttp(true);
    capsClient_ = std::make_unique<hostedremoteaccess::CapsClient>(endpoint_, hostedClient_.get());
  }
  // A plain-HTTP cloud whose auth service the caps client knows already
  // at "<base>/node1" (the keeper takes only https service URLs).
  void startPlainCloud(const std::string& script) {
    yarl_test::MockCloudLayout layout;
    layout.plain = true;
    startCloud(script, layout);
    capsClient_->recordServiceUrl(hostedremoteaccess::CapsClient::kAuth, (cloud_->base() + "/node1").c_str(), 60, {});
  }
  void TearDown() override {
    if (HasFailure() && cloud_) std::fprintf(stderr, "mock cloud log:\n%s\n", cloud_->log().c_str());
    capsClient_.reset();
    hostedClient_.reset();
    endpoint_ = plat::LinkedPtr<hosted::HostedEndpoint>();
    cloud_.reset();
    LoopTest::TearDown();
  }

  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const yarl_test::MockCloudRequest& r : cloud_->requests()) out.push_back(r.method + " " + r.path);
    return out;
  }

  std::unique_ptr<yarl_test::MockCloud> cloud_;
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint_;
  std::unique_ptr<hosted::HostedClient> hostedClient_;
  std::unique_ptr<hostedremoteaccess::CapsClient> capsClient_;
};

}  // namespace caps_test
