#include "qocore/base/http/ProductUrl.h"

#include <cstdarg>

#include "qocore/base/plat/PercentEncoding.h"

namespace http {

plat::StringParameter productUri("_ProductUri", "", "", true);

plat::CharArray makeProductUrl(const char* path) {
  plat::DString url;
  url.append(productUri.getValueStr().c_str()).append(path ? path : "");
  return url.release();
}

plat::CharArray makeProductUrlF(const char* format, ...) {
  plat::DString url;
  url.append(productUri.getValueStr().c_str());
  va_list args;
  va_start(args, format);
  url.vappendf(format, args);
  va_end(args);
  return url.release();
}

UrlBuilder::UrlBuilder(const char* base, bool openWithQuestionMark) : openWithQuestionMark_(openWithQuestionMark) {
  text_.append(base ? base : "");
}

void UrlBuilder::addQueryParameter(const char* name, const char* value) {
  if (!value) return;
  if (queryStarted_)
    text_.append("&");
  else if (openWithQuestionMark_)
    text_.append("?");
  text_.append(plat::percentEncode(name, true).c_str()).append("=").append(plat::percentEncode(value, true).c_str());
  queryStarted_ = true;
}

}  // namespace http
