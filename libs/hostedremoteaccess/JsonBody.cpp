#include "libs/hostedremoteaccess/JsonBody.h"

#include <cstring>

#include "qocore/base/plat/Json.h"

namespace hostedremoteaccess {

namespace {

// The string values of `member` of every element of the body's "errors".
plat::StringSet errorMembers(const plat::Buffer& body, const char* contentType, const char* member) {
  plat::StringSet values;
  try {
    plat::JsonRef root = parseJsonBody(body, contentType);
    plat::JsonArray* errors = root->asObject().findArray("errors");
    if (!errors) return {};
    for (int i = 0; i < errors->count(); ++i) {
      plat::JsonRef value = errors->get(i)->asObject().find(member);
      if (!value) continue;
      if (auto* text = dynamic_cast<plat::JsonString*>(value.get())) values.insert(plat::CharArray(text->get()));
    }
  } catch (const plat::Exception&) {
    // An error body that cannot be read says nothing more than its status.
    return {};
  }
  return values;
}

}  // namespace

plat::JsonRef parseJsonBody(const plat::Buffer& body, const char* contentType) {
  plat::JsonReader reader(body.data(), body.count());
  return plat::Json::parseHttpBody(contentType, reader);
}

plat::StringSet parseErrorCodes(const plat::Buffer& body, const char* contentType) {
  return errorMembers(body, contentType, "code");
}

plat::StringSet conflictErrorCodes(const hosted::HostedException& e, const plat::Buffer& body,
                                   const char* contentType) {
  if (std::strcmp(e.reason(), "HTTPConflict") != 0) return {};
  return parseErrorCodes(body, contentType);
}

plat::StringSet badRequestErrorFields(const hosted::HostedException& e, const plat::Buffer& body,
                                      const char* contentType) {
  if (std::strcmp(e.reason(), "HTTPBadRequest") != 0) return {};
  return errorMembers(body, contentType, "field");
}

}  // namespace hostedremoteaccess
