#include "qocore/base/http/HttpError.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HttpErrorTest, ReasonPhrases) {
  struct Case {
    int32_t status;
    const char* phrase;
  };
  const Case cases[] = {
      {100, "Continue"},
      {200, "OK"},
      {302, "Found"},
      {307, "Temporary Redirect"},
      {407, "Proxy Authentication Required"},
      {431, "Request Header Fields Too Large"},
      {505, "HTTP Version Not Supported"},
      // Codes without a phrase of their own.
      {306, "Unknown Error"},
      {418, "Unknown Error"},
      {999, "Unknown Error"},
      {0, "Unknown Error"},
      {-1, "Unknown Error"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.phrase, http::statusReasonPhrase(c.status)) << c.status;
}

TEST(HttpErrorTest, MessageTypeAndStatus) {
  const http::HttpError notFound(404);
  EXPECT_STREQ("HTTP status 404 (Not Found)", notFound.str());
  EXPECT_STREQ("HttpStatus404", notFound.typeName());
  EXPECT_EQ(404, notFound.status());

  const http::HttpError unknown(999);
  EXPECT_STREQ("HTTP status 999 (Unknown Error)", unknown.str());
  EXPECT_STREQ("HttpStatus999", unknown.typeName());

  // Caught as the platform's exception like every other failure.
  try {
    throw http::HttpError(302);
  } catch (const plat::Exception& e) {
    EXPECT_STREQ("HTTP status 302 (Found)", e.str());
  }
}

}  // namespace
