#pragma once
// score::ConnectionInfo: how the server describes one connected user to
// its control-channel clients.  Six texts whose meaning is the server's;
// the third and fourth together identify the connection.
//
// A text may be missing (null) or empty, and the two differ: two texts are
// equal when both are missing or both are present with the same bytes.
// Moving a record hands its texts over and leaves the source's missing.
//
// On the wire each text is a string with an 8-bit length (a longer text is
// cut to 255 bytes); a list travels as a u16 count and the records.

#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace score {

struct ConnectionInfo {
  static constexpr int kFieldCount = 6;

  ConnectionInfo() = default;
  // Copies the six texts (any may be null).
  ConnectionInfo(const char* first, const char* second, const char* third, const char* fourth, const char* fifth,
                 const char* sixth);

  // Each field in order replaces the old text.
  void read(rdr::InStream& in);
  void write(rdr::OutStream& out) const;

  // Field by field, a missing text equal only to a missing one.
  bool operator==(const ConnectionInfo& other) const noexcept;

  // The fields in order: fields[2] and fields[3] identify the connection.
  plat::CharArray fields[kFieldCount];
};

// Whether both texts are missing, or both present with the same bytes.
[[nodiscard]] bool sameText(const plat::CharArray& a, const plat::CharArray& b) noexcept;

// Removes the first record whose third and fourth fields equal the key's
// and returns its former index; -1 (nothing changed) when there is none.
int findAndRemove(std::vector<ConnectionInfo>& list, const ConnectionInfo& key);

}  // namespace score
