#pragma once
// Test fixtures in the cloud client's own encodings: BED values built from
// a JSON description, and section packages built from named byte strings,
// so that tests and the mock cloud exchange real encodings.
//
// The JSON description maps onto BED as follows: a number is an integer, a
// boolean a boolean, a string a string, an array a sequence and an object a
// map whose entries keep the object's member order (signatures over an
// encoded map depend on that order).  What JSON lacks is written as an
// object with a single member:
//   {"$time": "2026-03-04T05:06:07.089Z"}   a time (ISO-8601)
//   {"$opaque": "AQID"}                      opaque bytes (Base64)
// JSON null has no BED form and is refused.

#include <string>
#include <utility>
#include <vector>

#include "libs/hosted/Bed.h"
#include "libs/hosted/PackageWriter.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Json.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace yarl_test {

inline hosted::BedRef bedFromJson(plat::JsonValue& value) {
  if (auto* number = dynamic_cast<plat::JsonNumber*>(&value))
    return hosted::BedRef(new hosted::BedInt(number->value()));
  if (auto* flag = dynamic_cast<plat::JsonBool*>(&value)) return hosted::BedRef(new hosted::BedBool(flag->value()));
  if (auto* text = dynamic_cast<plat::JsonString*>(&value)) return hosted::BedRef(new hosted::BedString(text->get()));
  if (auto* array = dynamic_cast<plat::JsonArray*>(&value)) {
    plat::LinkedPtr<hosted::BedSeq> seq(new hosted::BedSeq);
    for (int i = 0; i < array->count(); ++i) seq->append(bedFromJson(*array->get(i)));
    return seq;
  }
  if (auto* object = dynamic_cast<plat::JsonObject*>(&value)) {
    const plat::JsonObject::Members& members = object->members();
    if (members.size() == 1 && members[0].name && std::string(members[0].name.get()) == "$time")
      return hosted::BedRef(new hosted::BedTime(plat::parseIsoDateChecked(members[0].value->asString().get())));
    if (members.size() == 1 && members[0].name && std::string(members[0].name.get()) == "$opaque")
      return hosted::BedRef(new hosted::BedOpaque(members[0].value->asBinary()));
    plat::LinkedPtr<hosted::BedMap> map(new hosted::BedMap);
    for (const plat::JsonObject::Member& m : members) map->set(m.name.get(), bedFromJson(*m.value));
    return map;
  }
  throw plat::Exception("JSON null has no BED form");
}

// The BED encoding of a JSON description.
inline plat::Buffer bedFromJsonText(const std::string& json) {
  plat::JsonReader reader(json.data(), static_cast<int32_t>(json.size()));
  plat::JsonRef value = plat::Json::parseHttpBody(nullptr, reader);
  return hosted::BedValue::encodeToBuffer(*bedFromJson(*value));
}

// A section package of the named byte strings.
inline plat::Buffer packageOf(const std::vector<std::pair<std::string, std::string>>& sections) {
  hosted::PackageWriter writer;
  for (const auto& [name, data] : sections)
    writer.addSection(name.c_str(), data.data(), static_cast<int32_t>(data.size()));
  rdr::MemOutStream out;
  writer.write(out);
  return out.takeBuffer();
}

}  // namespace yarl_test
