#pragma once
// Links to the maker's web pages and URLs with query parameters.

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/DString.h"

namespace http {

// "_ProductUri" (hidden): the maker's web site; product initialisation
// sets its default.
extern plat::StringParameter productUri;

// The current value of _ProductUri followed by the path.
plat::CharArray makeProductUrl(const char* path);
// The same with a printf-style path.
plat::CharArray makeProductUrlF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends percent-encoded query parameters to a URL.
class UrlBuilder {
 public:
  // openWithQuestionMark: the first parameter is preceded by "?"; otherwise
  // by nothing (a form-style list).
  UrlBuilder(const char* base, bool openWithQuestionMark);

  // Nothing for a null value.  Otherwise "&" (or, for the first, "?" or
  // nothing), the encoded name, "=" and the encoded value.
  void addQueryParameter(const char* name, const char* value);

  const char* c_str() const noexcept { return text_.c_str(); }
  plat::CharArray release() { return text_.release(); }

 private:
  plat::DString text_;
  bool queryStarted_ = false;
  bool openWithQuestionMark_;
};

}  // namespace http
