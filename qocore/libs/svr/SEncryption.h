#pragma once
// svr::SEncryption: the values of the server's `Encryption` parameter, how
// strongly connections must be encrypted.  The mode matters only while the
// `SecurityTypes` parameter is "<auto>"; an explicit list of security
// types makes the encryption custom.

#include <cstdint>

namespace plat {
class Configuration;
}  // namespace plat

namespace svr {

enum SEncryption : uint32_t {
  kEncAlwaysMaximum = 0,
  kEncAlwaysOn = 1,
  kEncPreferOn = 2,
  kEncPreferOff = 3,
  kEncAlwaysOff = 4,
  // SecurityTypes is not "<auto>", or Encryption holds another word.
  kEncCustom = 5,
};

// The mode of a parameter word, ignoring case; kEncCustom for a null text
// and any other word.
SEncryption encryptionFromText(const char* text) noexcept;
// The parameter word of 0 to 4; `fallback` for any other value.
const char* encryptionParameterText(SEncryption mode, const char* fallback) noexcept;
// The localised name of 0 to 4; "" for any other value.
const char* encryptionDisplayName(SEncryption mode);
// The localised short text the settings show: the key size of the two
// "always" modes, "Custom" for the preferences and AlwaysOff, "" for any
// other value.
const char* encryptionShortDisplayName(SEncryption mode);

// kEncCustom unless the configuration's SecurityTypes is "<auto>" (any
// case); otherwise the mode of its Encryption.  A parameter the
// configuration lacks counts as a missing text.
SEncryption encryptionFromConfiguration(const plat::Configuration& conf);
// Whether the configuration's SecurityTypes is "<auto>", ignoring case.
bool isAutoSecurityTypes(const plat::Configuration& conf);

}  // namespace svr
