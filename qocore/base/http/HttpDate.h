#pragma once
// HTTP dates ("Date", "Retry-After"): the three forms HTTP/1.1 accepts, in
// English whatever the thread's locale, read and written as wall-clock
// values (100-ns ticks since 1601, UTC).

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Time.h"

namespace http {

enum class HttpDateForm {
  kRfc1123,  // "Sun, 06 Nov 1994 08:49:37 GMT"
  kRfc850,   // "Sunday, 06-Nov-94 08:49:37 GMT"
  kAsctime,  // "Sun Nov  6 08:49:37 1994"
};

// Appends the time in the form.
void appendHttpDate(plat::DString& out, plat::TimeValue time, HttpDateForm form = HttpDateForm::kRfc1123);

// The form is chosen by the text (a "," and a "-": RFC 850; a "," alone:
// RFC 1123; none: asctime).  Only a text that the time formats back to
// exactly is accepted, so a wrong weekday, a missing leading zero or an
// extra blank refuses it.
[[nodiscard]] bool parseHttpDate(const char* text, plat::TimeValue& out);
// Throws plat::Exception "invalid HTTP date (<text>)" instead.
plat::TimeValue parseHttpDateOrThrow(const char* text);

}  // namespace http
