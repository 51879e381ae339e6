#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/hostedremoteaccess/JsonBody.h"
#include "qocore/base/http/HttpError.h"
#include "testing/FailureOf.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

plat::Buffer bodyOf(const std::string& text) {
  return plat::Buffer(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

std::vector<std::string> listOf(const plat::StringSet& set) {
  std::vector<std::string> out;
  for (const plat::CharArray& s : set) out.push_back(s.c_str());
  return out;
}

hosted::HostedException statusFailure(int status) {
  return hosted::HostedException(hosted::HostedException::Application, http::HttpError(status), nullptr);
}

TEST(JsonBody, ParsesTheBodyWithItsContentType) {
  EXPECT_EQ(hostedremoteaccess::parseJsonBody(bodyOf("{\"a\": 5}"), "application/json; charset=utf-8")
                ->asObject()
                .get("a")
                ->asNumber()
                .value(),
            5);
  EXPECT_EQ(hostedremoteaccess::parseJsonBody(bodyOf("[]"), nullptr)->asArray().count(), 0);
  EXPECT_EQ(
      yarl_test::failureOf<plat::JsonException>([] { hostedremoteaccess::parseJsonBody(bodyOf("{}"), "text/html"); }),
      "Unknown Content-Type 'text/html'");
  EXPECT_EQ(
      yarl_test::failureOf<plat::JsonException>([] { hostedremoteaccess::parseJsonBody(bodyOf("{} x"), nullptr); }),
      "Trailing bytes after JSON at line 0");
}

TEST(JsonBody, ErrorCodesAndFieldsFollowTheFailuresReason) {
  const plat::Buffer body = bodyOf(
      "{\"errors\": [{\"code\": \"A\", \"field\": \"name\"}, {\"code\": \"B\"}, {\"code\": \"A\", \"field\": 3},"
      " {\"field\": \"email\"}]}");
  EXPECT_THAT(listOf(hostedremoteaccess::parseErrorCodes(body, "application/json")), ElementsAre("A", "B"));
  EXPECT_THAT(listOf(hostedremoteaccess::conflictErrorCodes(statusFailure(409), body, nullptr)), ElementsAre("A", "B"));
  EXPECT_THAT(listOf(hostedremoteaccess::badRequestErrorFields(statusFailure(409), body, nullptr)), IsEmpty());
  EXPECT_THAT(listOf(hostedremoteaccess::badRequestErrorFields(statusFailure(400), body, nullptr)),
              ElementsAre("email", "name"));
  EXPECT_THAT(listOf(hostedremoteaccess::conflictErrorCodes(statusFailure(400), body, nullptr)), IsEmpty());
}

TEST(JsonBody, UnreadableErrorBodiesGiveNothing) {
  for (const char* text : {"", "not json", "[1]", "{\"errors\": {}}", "{\"other\": []}",
                           "{\"errors\": [{\"code\": \"A\"}, 5]}", "{\"errors\": [{\"code\": \"A\"}, \"B\"]}"}) {
    SCOPED_TRACE(text);
    EXPECT_THAT(listOf(hostedremoteaccess::conflictErrorCodes(statusFailure(409), bodyOf(text), nullptr)), IsEmpty());
    EXPECT_THAT(listOf(hostedremoteaccess::badRequestErrorFields(statusFailure(400), bodyOf(text), nullptr)),
                IsEmpty());
  }
  // A content type that is not JSON.
  EXPECT_THAT(listOf(hostedremoteaccess::parseErrorCodes(bodyOf("{\"errors\": [{\"code\": \"A\"}]}"), "text/plain")),
              IsEmpty());
}

}  // namespace
