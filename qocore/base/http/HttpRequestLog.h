#pragma once
// The request log: an HTTP Archive (HAR 1.2) document of every request
// that succeeded, rewritten to "httpRequests.har" in the default
// persistent store after each one while `_HttpHarDump` is set.  Each
// client has one page in it; each successful request adds one entry.
//
// The values of "Authorization" and "Proxy-Authorization" request headers
// are written as "<redacted>": the file sits in the store in clear text.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/Time.h"

namespace http {

class HttpRequest;

// Hidden switch of the request log (default off).
extern plat::BoolParameter httpHarDump;

class HarDocument : public plat::JsonObject {
 public:
  // The process-wide document, made on first use and kept until exit.
  static HarDocument& instance();

  // Appends a page for a client made at `created` (wall clock) and returns
  // its id.
  plat::CharArray addPage(plat::TimeValue created);
  // Appends an entry for a request that completed.
  void addEntry(const char* pageId, HttpRequest& request);

  HarDocument();
  ~HarDocument() override;

 private:
  plat::JsonArrayRef pages_;
  plat::JsonArrayRef entries_;
};

// "YYYY-MM-DDTHH:MM:SS.mmm+00:00" in UTC.
plat::CharArray harTimeText(plat::TimeValue wallClock);

}  // namespace http
