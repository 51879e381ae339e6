#include "libs/score/ConnectionInfo.h"

#include <cstring>

#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace score {

ConnectionInfo::ConnectionInfo(const char* first, const char* second, const char* third, const char* fourth,
                               const char* fifth, const char* sixth)
    : fields{plat::CharArray(first),  plat::CharArray(second), plat::CharArray(third),
             plat::CharArray(fourth), plat::CharArray(fifth),  plat::CharArray(sixth)} {}

void ConnectionInfo::read(rdr::InStream& in) {
  for (plat::CharArray& field : fields) field = in.readString8();
}

void ConnectionInfo::write(rdr::OutStream& out) const {
  // writeString8 cuts a text to 255 bytes; a missing one goes as empty.
  for (const plat::CharArray& field : fields) out.writeString8(field.get());
}

bool ConnectionInfo::operator==(const ConnectionInfo& other) const noexcept {
  for (int i = 0; i < kFieldCount; ++i) {
    if (!sameText(fields[i], other.fields[i])) return false;
  }
  return true;
}

bool sameText(const plat::CharArray& a, const plat::CharArray& b) noexcept {
  if (a.isNull() || b.isNull()) return a.isNull() == b.isNull();
  return std::strcmp(a.get(), b.get()) == 0;
}

int findAndRemove(std::vector<ConnectionInfo>& list, const ConnectionInfo& key) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (sameText(list[i].fields[2], key.fields[2]) && sameText(list[i].fields[3], key.fields[3])) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace score
