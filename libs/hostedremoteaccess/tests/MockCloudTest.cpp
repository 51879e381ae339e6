// The mock cloud as the C++ tests see it: started for one test, its port
// and files known, its record read back.  (Its HTTPS side is checked by
// testing/tests/mock-cloud-test.py through Python's client.)

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "testing/MockCloud.h"
#include "testing/RunUntil.h"

namespace {

struct Owner : http::HttpCallback {
  bool acceptStatus(http::HttpRequest&, int32_t) override { return true; }
  void onSucceeded(http::HttpRequest& r) override {
    status = r.statusCode();
    if (http::SharedBody b = r.responseBody()) body.assign(reinterpret_cast<const char*>(b->data()), b->count());
  }
  void onFailed(http::HttpRequest&, const plat::Exception& e) override { failure = e.str(); }
  int status = 0;
  std::string body;
  std::string failure;
};

class MockCloudTest : public testing::Test {
 protected:
  void TearDown() override { io::IpResolverMgr::shutdown(); }

  Owner fetch(const std::string& url, const char* method = "GET", const std::string& body = "") {
    Owner owner;
    std::unique_ptr<http::HttpRequest> r = client_.createRequest(method, url.c_str());
    if (!body.empty())
      r->setBody("application/json",
                 plat::Buffer(reinterpret_cast<const unsigned char*>(body.data()), static_cast<int>(body.size())));
    r->start(&owner);
    const auto answered = [&] { return owner.status || !owner.failure.empty(); };
    yarl_test::runUntil(manager_.runLoop(), answered, std::chrono::seconds(5));
    return owner;
  }

  io::IoRunLoopManager manager_;
  http::NativeHttpClient client_{nullptr};
};

TEST_F(MockCloudTest, ServesItsFilesAndRecordsEachRequest) {
  yarl_test::MockCloud::Options options;
  options.layout.plain = true;
  options.script = R"({"routes": {"POST /node1/x": [{"status": 503, "headers": {"Retry-After": "2"}}]}})";
  yarl_test::MockCloud mock(options);
  EXPECT_EQ(mock.base(), "http://127.0.0.1:" + std::to_string(mock.port()));

  Owner document = fetch(mock.base() + "/bootstrap/1");
  EXPECT_EQ(document.status, 200) << document.failure;
  EXPECT_NE(document.body.find(mock.base() + "/node1;" + mock.base() + "/node2"), std::string::npos);
  EXPECT_EQ(fetch(mock.base() + "/node1/x", "POST", "{}").status, 503);

  const std::vector<yarl_test::MockCloudRequest> record = mock.requests();
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record[0].method + " " + record[0].path, "GET /bootstrap/1");
  EXPECT_EQ(record[1].method + " " + record[1].path, "POST /node1/x");
  EXPECT_EQ(record[1].status, 503);
  EXPECT_EQ(record[1].body, "{}");
  EXPECT_STREQ(record[1].header("content-type"), "application/json");
  EXPECT_EQ(record[1].header("Authorization"), nullptr);
  EXPECT_FALSE(yarl_test::readFile(mock.folder() + "/CloudConfig.pkg").empty());
}

}  // namespace
