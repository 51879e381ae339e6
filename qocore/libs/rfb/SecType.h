#pragma once
// The remote-framebuffer security types: the numbered ways in which the
// handshake may secure a connection, with their names, key sizes and the
// families that a security-type list may name instead of single types.
//
// A list of types is written as items separated by ",": a type's name
// ("RA2_128", any case), or a family with an optional strength,
// "<family>[:<bits>[+]]", which stands for the family's types whose key
// has exactly those bits, or, with "+", at least those bits ("0+" when no
// strength is given).  Unusable items are skipped; nothing fails.

#include <cstdint>
#include <span>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace rfb {

// Type numbers.  "r" and "ne" variants carry the same authentication as
// their plain type; the "ne" ones do not encrypt the session.
enum SecType : uint32_t {
  kSecTypeNone = 1,
  kSecTypeYarlAuth = 2,
  kSecTypeS3 = 3,
  kSecTypeS3ne = 4,
  kSecTypeRA2_128 = 5,
  kSecTypeRA2ne_128 = 6,
  kSecTypeSSPI = 7,
  kSecTypeSSPIne = 8,
  kSecTypeTicket = 9,
  kSecTypeTicketne = 10,
  kSecTypeSSO_128 = 11,
  kSecTypeSSOne_128 = 12,
  kSecTypeRA2r_128 = 13,
  kSecTypeSSOr_128 = 14,
  kSecTypeKvmMgmt = 15,
  kSecTypeArd = 30,
  kSecTypeRA2_256 = 129,
  kSecTypeRA2ne_256 = 130,
  kSecTypeSSO_256 = 131,
  kSecTypeSSOne_256 = 132,
  kSecTypeRA2r_256 = 133,
  kSecTypeSSOr_256 = 134,
};

// Lists of type numbers, in the order they are offered.
using SecTypeList = std::vector<uint32_t>;

// The type's name, or "[unknown secType <number>]".
plat::CharArray secTypeName(uint32_t secType);
// The number of the first type whose name equals `name` ignoring case; 0
// when none does (family names are not type names).
uint32_t secTypeFromName(const char* name) noexcept;

// 128 for the types 3 to 14, 256 for 129 to 134, otherwise 0.
int secTypeKeyBits(uint32_t secType) noexcept;
// The key bits of a type that encrypts the session, 0 for one that does
// not (an even number other than 14 and 134, or one without a key).
int secTypeEncryptionBits(uint32_t secType) noexcept;
// The localised strength: no encryption, 128-bit or 256-bit AES.
const char* secTypeStrengthName(uint32_t secType);
// Whether the type is an "r" or "ne" variant of the RA2 and SSO families.
bool isRorNeVariant(uint32_t secType) noexcept;

// The types of the family named (ignoring case) in the family's order;
// empty for a name that is no family.
std::span<const uint32_t> secTypeFamily(const char* name) noexcept;

// Appends the types of a list written as above.
void parseSecurityTypes(const char* text, SecTypeList& types);

}  // namespace rfb
