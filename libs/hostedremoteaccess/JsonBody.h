#pragma once
// JSON bodies of cloud answers, and the readers of the cloud's error
// bodies: {"errors": [{"code": ..., "field": ...}, ...]}.

#include "libs/hosted/HostedException.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Strings.h"

namespace hostedremoteaccess {

// The body parsed as one JSON document (integers only), the content type
// checked unless null.  Throws plat::JsonException when it is not JSON.
plat::JsonRef parseJsonBody(const plat::Buffer& body, const char* contentType);

// The string values of "code" of every element of "errors".  None of the
// readers throws: a body that is not JSON, has no "errors" array or has an
// element that is not an object gives the empty set; elements without the
// member, or with a value that is not a string, are skipped.
plat::StringSet parseErrorCodes(const plat::Buffer& body, const char* contentType);
// parseErrorCodes for a failure with reason "HTTPConflict", else nothing.
plat::StringSet conflictErrorCodes(const hosted::HostedException& e, const plat::Buffer& body, const char* contentType);
// The string values of "field" of every element of "errors" for a failure
// with reason "HTTPBadRequest", else nothing.
plat::StringSet badRequestErrorFields(const hosted::HostedException& e, const plat::Buffer& body,
                                      const char* contentType);

}  // namespace hostedremoteaccess
