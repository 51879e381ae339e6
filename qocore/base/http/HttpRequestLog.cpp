#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"

namespace http {

void NativeHttpClient::logRequest(NativeHttpRequest&) {
  // No request log is kept yet; harPageId_ stays empty.
}

}  // namespace http
