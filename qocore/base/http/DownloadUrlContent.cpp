#include "qocore/base/http/DownloadUrlContent.h"

#include "platform/cfnetwork/PacScript.h"
#include "qocore/base/plat/LogSrc.h"

namespace http {

namespace {
PLAT_LOG_SOURCE(vlog, "downloadUrlContent");
}

plat::CharArray downloadUrlContent(const char* url, size_t& length) {
  plat::CharArray body;
  plat::CharArray error;
  length = 0;
  if (!cfnetwork::downloadUrl(url, body, length, error)) {
    vlog().debug("PAC download failed: %s", error.c_str());
    length = 0;
    return {};
  }
  vlog().debug("Downloaded %d bytes from PAC URL", static_cast<int>(length));
  return body;
}

}  // namespace http
