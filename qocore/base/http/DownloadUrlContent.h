#pragma once
// http::downloadUrlContent: the whole content of a URL, fetched
// synchronously and directly (never through a proxy) for the PAC fallback,
// with a 30 s time-out and a 1 MiB cap.  The calling thread blocks until
// the download has ended.

#include <cstddef>

#include "qocore/base/plat/CharArray.h"

namespace http {

// The body as a NUL-terminated copy (its length, which counts any NUL
// inside, in `length`), or a null text when the download failed (logged).
plat::CharArray downloadUrlContent(const char* url, size_t& length);

}  // namespace http
