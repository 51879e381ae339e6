#pragma once
// svr::SAuthentication: the authentication schemes the server's settings
// offer, each with its `Authentication` text, display name and
// description; and the full `Authentication` syntax beside them.
//
// An `Authentication` text is a list of alternatives separated by ",".
// Each alternative is "None" (any case: no authentication) or a chain of
// method words joined by "+", all of which must succeed in order.  Empty
// alternatives are skipped; an empty word inside a chain is an unknown
// word.  Words are known through a process-wide registry that maps each
// (exact case) to a method id; the server fills it, and a word without an
// id there is unknown.
//
// While `SecurityTypes` is "<auto>", the legacy security types offered to
// old viewers follow from `Encryption` and `Authentication`.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/libs/qoauth/SAuthFlows.h"
#include "qocore/libs/rfb/SecType.h"
#include "qocore/libs/svr/SEncryption.h"

namespace plat {
class Configuration;
}  // namespace plat

namespace svr {

enum SAuthentication : uint32_t {
  kAuthUnset = 0,
  kAuthNone = 1,
  kAuthYarlAuth = 2,
  kAuthSystemAuth = 3,
  kAuthSingleSignOn = 4,
  kAuthInteractiveSystemAuth = 5,
  kAuthCertificate = 6,
  kAuthSystemAuthRadius = 7,
  kAuthSystemAuthDuo = 8,
  kAuthSystemAuthSecurID = 9,
  kAuthCloudSso = 10,
  // Any other `Authentication` text.
  kAuthCustom = 11,
};

// The method ids with a meaning here: kLegacyMethodId marks a method that
// the legacy RA2 security types can carry alone; a single-method
// alternative is a method of either id.
constexpr uint32_t kLegacyMethodId = 1;
constexpr uint32_t kStandaloneMethodId = 4;

// The scheme's `Authentication` text for 0 to 10; `customText` otherwise.
const char* parameterText(SAuthentication scheme, const char* customText) noexcept;
// The localised name; the system-password schemes name the platform.  ""
// above kAuthCustom.
plat::CharArray displayName(SAuthentication scheme);
// The localised description; "" for kAuthCustom and above.
plat::CharArray description(SAuthentication scheme);
// The first scheme whose text equals `text` ignoring case ("" is
// kAuthUnset); kAuthCustom for a null text and any other.  Only the exact
// combined texts are schemes: "Radius+SystemAuth" is custom.
SAuthentication fromText(const char* text) noexcept;
// kAuthCustom unless the configuration's SecurityTypes is "<auto>" (any
// case); otherwise the scheme of its Authentication.  A parameter the
// configuration lacks counts as a missing text.
SAuthentication fromConfiguration(const plat::Configuration& conf);
// The word the system-password texts insert: "Mac".
const char* platformName() noexcept;

// ---- The method registry ----

using MethodListener = void (*)();
// With `add`, maps the word to the id (replacing an earlier one);
// otherwise removes it.  Then calls every listener in the order added.
void registerMethod(const char* word, uint32_t id, bool add);
void addMethodListener(MethodListener listener);
// The word's id; 0 for a word that is not registered.
uint32_t methodId(const char* word);

// ---- The Authentication syntax ----

// The flows of a text: "None" gives an empty flow; a chain keeps each
// method's id and its word as written.  An unknown word throws
// plat::Exception "Unknown auth method \"<word>\"" when `strict`;
// otherwise its whole alternative is dropped.
qoauth::SAuthFlows parseAuthList(const char* text, bool strict);
// Chains joined by ",", their words by "+", an empty chain as "None"; ""
// for no flows.
plat::CharArray authListText(const qoauth::SAuthFlows& flows);

// The alternatives of the text, as written, that hold no "+" and are
// "None" (any case) or a word whose id is kLegacyMethodId or
// kStandaloneMethodId.
void singleMethodAlternatives(const char* text, plat::CharArrayList& alternatives);
// Whether the text has a "None" alternative.
bool hasNoneAlternative(const char* text);
// Whether the method word occurs in `text` or, failing that, in
// `otherText` when one is given.
bool hasMethodWord(const char* word, const char* text, const char* otherText = nullptr);
// Whether any chain of the configuration's Authentication holds a method
// with kLegacyMethodId.
bool hasLegacyMethod(const plat::Configuration& conf);

// ---- Security types ----

// An explicit SecurityTypes list is parsed as it stands; "<auto>" (any
// case) derives the types from the encryption mode and the alternatives
// of the Authentication text.  Types are appended, repeats included.
void resolveSecurityTypes(const char* secTypes, const char* encryption, const char* authentication,
                          rfb::SecTypeList& types);
// The "<auto>" derivation for a mode (kEncCustom and above add nothing).
void resolveSecurityTypes(SEncryption mode, const char* authentication, rfb::SecTypeList& types);
// resolveSecurityTypes of the configuration's current values.
void securityTypesFromConfiguration(const plat::Configuration& conf, rfb::SecTypeList& types);

}  // namespace svr
