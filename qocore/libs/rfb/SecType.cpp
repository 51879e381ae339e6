#include "qocore/libs/rfb/SecType.h"

#include <strings.h>

#include <cstring>
#include <iterator>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/libs/rfb/RfbMessages.h"

namespace rfb {

namespace {

struct Named {
  uint32_t secType;
  const char* name;
};

// In the order name lookups search.
// clang-format off
constexpr Named kTypes[] = {
    {kSecTypeNone, "None"},           {kSecTypeYarlAuth, "YarlAuth"},
    {kSecTypeRA2_128, "RA2_128"},     {kSecTypeRA2r_128, "RA2r_128"},   {kSecTypeRA2ne_128, "RA2ne_128"},
    {kSecTypeRA2_256, "RA2_256"},     {kSecTypeRA2r_256, "RA2r_256"},   {kSecTypeRA2ne_256, "RA2ne_256"},
    {kSecTypeSSO_128, "SSO_128"},     {kSecTypeSSOr_128, "SSOr_128"},   {kSecTypeSSOne_128, "SSOne_128"},
    {kSecTypeSSO_256, "SSO_256"},     {kSecTypeSSOr_256, "SSOr_256"},   {kSecTypeSSOne_256, "SSOne_256"},
    {kSecTypeSSPI, "SSPI"},           {kSecTypeSSPIne, "SSPIne"},
    {kSecTypeTicket, "Ticket"},       {kSecTypeTicketne, "Ticketne"},
    {kSecTypeS3, "S3"},               {kSecTypeS3ne, "S3ne"},
    {kSecTypeKvmMgmt, "KvmMgmt"},     {kSecTypeArd, "Ard"},
};

constexpr uint32_t kRA2[] = {kSecTypeRA2r_128, kSecTypeRA2r_256, kSecTypeRA2_128, kSecTypeRA2_256};
constexpr uint32_t kRA2r[] = {kSecTypeRA2r_128, kSecTypeRA2r_256};
constexpr uint32_t kRA2ne[] = {kSecTypeRA2ne_128, kSecTypeRA2ne_256};
constexpr uint32_t kSSO[] = {kSecTypeSSOr_128, kSecTypeSSOr_256, kSecTypeSSO_128, kSecTypeSSO_256};
constexpr uint32_t kSSOr[] = {kSecTypeSSOr_128, kSecTypeSSOr_256};
constexpr uint32_t kSSOne[] = {kSecTypeSSOne_128, kSecTypeSSOne_256};
// clang-format on

struct Family {
  const char* name;
  std::span<const uint32_t> types;
};

constexpr Family kFamilies[] = {
    {"RA2", kRA2}, {"RA2r", kRA2r}, {"RA2ne", kRA2ne}, {"SSO", kSSO}, {"SSOr", kSSOr}, {"SSOne", kSSOne},
};

// The strength names are looked up from the first use on.
[[maybe_unused]] const bool textsRegistered = (registerMessages(), true);

}  // namespace

plat::CharArray secTypeName(uint32_t secType) {
  for (const Named& row : kTypes) {
    if (row.secType == secType) return plat::CharArray(row.name);
  }
  return plat::DString::format("[unknown secType %d]", static_cast<int32_t>(secType));
}

uint32_t secTypeFromName(const char* name) noexcept {
  if (!name) return 0;
  for (const Named& row : kTypes) {
    if (strcasecmp(name, row.name) == 0) return row.secType;
  }
  return 0;
}

int secTypeKeyBits(uint32_t secType) noexcept {
  if (secType >= 3 && secType <= 14) return 128;
  if (secType >= 129 && secType <= 134) return 256;
  return 0;
}

int secTypeEncryptionBits(uint32_t secType) noexcept {
  const bool encrypted = secType % 2 == 1 || secType == kSecTypeSSOr_128 || secType == kSecTypeSSOr_256;
  // Odd types without a key (None, KvmMgmt) carry nothing to encrypt with.
  return encrypted ? secTypeKeyBits(secType) : 0;
}

const char* secTypeStrengthName(uint32_t secType) {
  switch (secTypeEncryptionBits(secType)) {
    case 128:
      return loc::translate("rfb_security_128_AES");
    case 256:
      return loc::translate("rfb_security_256_AES");
    default:
      return loc::translate("rfb_security_no_encryption");
  }
}

bool isRorNeVariant(uint32_t secType) noexcept {
  switch (secType) {
    case kSecTypeRA2ne_128:
    case kSecTypeSSOne_128:
    case kSecTypeRA2r_128:
    case kSecTypeSSOr_128:
    case kSecTypeRA2ne_256:
    case kSecTypeSSOne_256:
    case kSecTypeRA2r_256:
    case kSecTypeSSOr_256:
      return true;
    default:
      return false;
  }
}

std::span<const uint32_t> secTypeFamily(const char* name) noexcept {
  if (!name) return {};
  for (const Family& family : kFamilies) {
    if (strcasecmp(name, family.name) == 0) return family.types;
  }
  return {};
}

void parseSecurityTypes(const char* text, SecTypeList& types) {
  plat::CharArrayList items;
  plat::strSplitList(text, ',', items);
  for (plat::CharArray& item : items) {
    if (uint32_t secType = secTypeFromName(item.get())) {
      types.push_back(secType);
      continue;
    }
    // "<family>:<bits>[+]", the family alone meaning every strength.
    const char* strength = "0+";
    if (char* colon = std::strchr(item.get(), ':')) {
      *colon = '\0';
      strength = colon + 1;
    }
    const char* cursor = strength;
    int32_t bits = 0;
    if (!plat::parseInt(bits, cursor)) continue;
    const bool orMore = plat::endsWith(strength, "+");
    for (uint32_t secType : secTypeFamily(item.get())) {
      const int keyBits = secTypeKeyBits(secType);
      if (keyBits == bits || (orMore && keyBits > bits)) types.push_back(secType);
    }
  }
}

}  // namespace rfb
