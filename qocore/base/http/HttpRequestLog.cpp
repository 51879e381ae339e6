#include "qocore/base/http/HttpRequestLog.h"

#include <strings.h>

#include <climits>
#include <cstring>
#include <ctime>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/PersistentStore.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Strings.h"

namespace http {

plat::BoolParameter httpHarDump("_HttpHarDump", "Record every successful HTTP request in httpRequests.har", false,
                                true);

namespace {

PLAT_LOG_SOURCE(vlog, "HttpClient");

constexpr const char* kHarKey = "httpRequests.har";
constexpr const char* kRedacted = "<redacted>";

plat::JsonRef number(int64_t value) { return plat::JsonRef(new plat::JsonNumber(value)); }

plat::JsonObjectRef newObject() { return plat::JsonRef(new plat::JsonObject).asObject(); }

plat::JsonArrayRef newArray() { return plat::JsonRef(new plat::JsonArray).asArray(); }

// Whole milliseconds of a tick span, clamped to the signed 32-bit range.
int64_t clampedMs(int64_t ticks) {
  const int64_t ms = ticks / plat::kTicksPerMs;
  if (ms > INT32_MAX) return INT32_MAX;
  if (ms < INT32_MIN) return INT32_MIN;
  return ms;
}

// Credentials must not reach the file, which lies in the store in clear
// text; the header itself stays so the entry keeps its shape.
bool isCredentialHeader(const char* name) {
  return strcasecmp(name, "Authorization") == 0 || strcasecmp(name, "Proxy-Authorization") == 0;
}

// Appends an empty object to the array and hands it out for filling.
plat::JsonObjectRef appendObject(plat::JsonArray& array) {
  array.append(new plat::JsonObject);
  return array.get(array.count() - 1).asObject();
}

plat::JsonArrayRef headerList(const plat::CaseMap& headers, bool redact) {
  plat::JsonArrayRef list = newArray();
  for (const auto& [name, value] : headers) {
    plat::JsonObjectRef header = appendObject(*list);
    header->setString("name", name.c_str());
    header->setString("value", redact && isCredentialHeader(name.c_str()) ? kRedacted : value.c_str());
  }
  return list;
}

}  // namespace

plat::CharArray harTimeText(plat::TimeValue wallClock) {
  tm fields;
  plat::toCalendarUtc(fields, wallClock);
  plat::DString out;
  plat::appendIsoDate(out, fields, wallClock, true);
  out.append("+00:00");
  return out.release();
}

HarDocument::HarDocument() : pages_(newArray()), entries_(newArray()) {
  plat::JsonObjectRef log = newObject();
  log->setString("version", "1.2");
  plat::JsonObjectRef creator = newObject();
  creator->setString("name", os::getDisplayName(true));
  creator->setString("version", os::getProductVersion());
  log->set("creator", creator);
  log->set("pages", pages_);
  log->set("entries", entries_);
  set("log", log);
}

HarDocument::~HarDocument() = default;

HarDocument& HarDocument::instance() {
  // Never destroyed: a request may still complete while the process ends.
  static plat::JsonRef* const holder = new plat::JsonRef(new HarDocument);
  return static_cast<HarDocument&>(*holder->get());
}

plat::CharArray HarDocument::addPage(plat::TimeValue created) {
  const int index = pages_->count();
  plat::CharArray id = plat::DString::format("client_%d", index);
  plat::JsonObjectRef page = appendObject(*pages_);
  page->setString("startedDateTime", harTimeText(created).c_str());
  page->setString("id", id.c_str());
  page->setString("title", plat::DString::format("%s, client %d", os::getDisplayName(true), index).c_str());
  plat::JsonObjectRef timings = newObject();
  timings->set("onContentLoad", number(-1));
  timings->set("onLoad", number(-1));
  page->set("pageTimings", timings);
  return id;
}

void HarDocument::addEntry(const char* pageId, HttpRequest& request) {
  const int64_t start = request.startTime();
  const int64_t connectAt = request.connectTime();
  const int64_t sendAt = request.sendTime();
  const int64_t blocked = clampedMs((connectAt != -1 ? connectAt : sendAt) - start);
  const int64_t connect = connectAt != -1 ? clampedMs(sendAt - connectAt) : -1;
  const int64_t wait = clampedMs(request.endTime() - sendAt);

  SharedBody body = request.responseBody();
  const int64_t bodySize = body ? body->count() : 0;
  const plat::CaseMap& responseHeaders = request.responseHeaders();
  const auto type = responseHeaders.find(plat::CharArray("Content-Type"));
  const char* mimeType = type != responseHeaders.end() && type->second.c_str()[0] ? type->second.c_str() : "text/plain";

  plat::JsonObjectRef entry = appendObject(*entries_);
  entry->setString("startedDateTime", harTimeText(plat::getTime() + (start - plat::getMonotonicTime())).c_str());
  entry->setString("pageref", pageId);
  entry->set("time", number((connect == -1 ? 0 : connect) + wait + blocked));

  plat::JsonObjectRef req = newObject();
  req->setString("method", request.method());
  req->setString("url", request.url());
  req->setString("httpVersion", "HTTP/1.1");
  req->set("cookies", newArray());
  req->set("headers", headerList(request.requestHeaders(), true));
  req->set("queryString", newArray());
  req->set("headersSize", number(-1));
  req->set("bodySize", number(request.requestBody().count()));
  entry->set("request", req);

  plat::JsonObjectRef resp = newObject();
  resp->set("status", number(request.statusCode()));
  resp->setString("statusText", statusReasonPhrase(request.statusCode()));
  resp->setString("httpVersion", "HTTP/1.1");
  resp->set("cookies", newArray());
  resp->setString("redirectURL", "");
  resp->set("headers", headerList(responseHeaders, false));
  plat::JsonObjectRef content = newObject();
  content->set("size", number(bodySize));
  content->setString("mimeType", mimeType);
  resp->set("content", content);
  resp->set("headersSize", number(-1));
  resp->set("bodySize", number(bodySize));
  entry->set("response", resp);

  plat::JsonObjectRef timings = newObject();
  timings->set("blocked", number(blocked));
  timings->set("dns", number(-1));
  timings->set("connect", number(connect));
  timings->set("send", number(0));
  timings->set("wait", number(wait));
  timings->set("receive", number(0));
  entry->set("timings", timings);
  entry->set("cache", newObject());
}

void NativeHttpClient::logRequest(NativeHttpRequest& request) {
  if (!httpHarDump.getValue()) return;
  // The request has succeeded: a log that cannot be written is reported
  // here, never turned into the request's failure.
  try {
    HarDocument& document = HarDocument::instance();
    if (!harPageId_.c_str()[0]) harPageId_ = document.addPage(created_);
    document.addEntry(harPageId_.c_str(), request);
    const plat::CharArray text = document.toText();
    const size_t length = std::strlen(text.c_str());
    if (length > static_cast<size_t>(INT_MAX)) {
      vlog().error("Request log too large to write: %zu bytes", length);
      return;
    }
    const plat::Buffer data(reinterpret_cast<const unsigned char*>(text.c_str()), static_cast<int>(length));
    os::PersistentStoreFile::defaultStore().write(kHarKey, data);
  } catch (const plat::Exception& e) {
    vlog().error("Unable to write the request log: %s", e.str());
  }
}

}  // namespace http
