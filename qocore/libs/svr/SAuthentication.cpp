#include "qocore/libs/svr/SAuthentication.h"

#include <strings.h>

#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/libs/svr/SvrMessages.h"

namespace svr {

namespace {

struct Scheme {
  const char* text;
  const char* displayKey;
  const char* descriptionKey;
  // Whether the texts insert the platform word.
  bool platformInName;
  bool platformInDescription;
};

// Indexed by scheme.  The combined schemes' display keys name only the
// add-on; their names begin with the system password's.
// clang-format off
constexpr Scheme kSchemes[] = {
    {"", "svr_sauthentication_unset", "svr_sauthentication_desc_unset", false, false},
    {"None", "svr_sauthentication_none", "svr_sauthentication_desc_none", false, false},
    {"YarlAuth", "svr_sauthentication_yarl_password", "svr_sauthentication_desc_yarl_password", false, false},
    {"SystemAuth", "svr_sauthentication_system_password", "svr_sauthentication_desc_system_password", true, true},
    {"SingleSignOn,SystemAuth", "svr_sauthentication_single_sign_on", "svr_sauthentication_desc_single_sign_on", false,
     false},
    {"InteractiveSystemAuth", "svr_sauthentication_interactivesystem", "svr_sauthentication_desc_interactivesystem",
     true, true},
    {"Certificate", "svr_sauthentication_public_key", "svr_sauthentication_desc_public_key", false, false},
    {"SystemAuth+Radius", "svr_sauthentication_radius", "svr_sauthentication_desc_system_radius", false, true},
    {"SystemAuth+Duo", "svr_sauthentication_duo", "svr_sauthentication_desc_system_duo", false, true},
    {"SystemAuth+SecurID", "svr_sauthentication_securid", "svr_sauthentication_desc_system_securid", false, true},
    {"CloudSso", "svr_sauthentication_cloud_sso", "svr_sauthentication_desc_cloud_sso", false, false},
};
// clang-format on
static_assert(std::size(kSchemes) == kAuthCustom);

constexpr char kAuto[] = "<auto>";

// The text of a key in the current language, with the platform word as
// its first argument when it takes one.  A key with a placeholder is
// always looked up as a template.
plat::CharArray localized(const char* key, bool withPlatform) {
  if (!withPlatform) return plat::CharArray(loc::translate(key));
  loc::ArgList args;
  args.str(platformName());
  return loc::formatNew(loc::translate(key, nullptr, 0, true), args.first());
}

// The current value of a parameter, null when the configuration has none.
plat::CharArray paramValue(const plat::Configuration& conf, const char* name) {
  const plat::ConfigParameter* param = conf.findParam(name);
  return param ? param->getValueStr() : plat::CharArray();
}

// The method registry: words in byte order, each with its id.  Made on
// first use and never destroyed, like the other registries static
// initialisers fill.
constinit plat::Mutex registryMutex;

struct Registry {
  std::map<std::string, uint32_t> methods;
  std::vector<MethodListener> listeners;
};

Registry& registry() PLAT_REQUIRES(registryMutex) {
  static Registry* const instance = new Registry;
  return *instance;
}

// The registry and the texts are ready before the program's main work.
[[maybe_unused]] const bool registryMade = [] {
  plat::MutexLock lock(registryMutex);
  registry();
  return true;
}();
[[maybe_unused]] const bool textsRegistered = (registerMessages(), true);

// The types one strength level adds for the alternatives of an
// Authentication text: level 0 unencrypted, 1 at least 128 bits, 2 256
// bits.
void appendLevel(int level, const char* authentication, rfb::SecTypeList& types) {
  static constexpr const char* kSuffixes[] = {"ne", ":128+", ":256+"};
  const std::string suffix = kSuffixes[level];
  plat::CharArrayList alternatives;
  plat::strSplitList(authentication, ',', alternatives);
  for (const plat::CharArray& alternative : alternatives) {
    const char* text = alternative.get();
    if (*text == '\0') continue;
    if (strcasecmp(text, "None") == 0) {
      rfb::parseSecurityTypes(("RA2" + suffix).c_str(), types);
      if (level == 0) types.push_back(rfb::kSecTypeNone);
    } else if (strcasecmp(text, "SingleSignOn") == 0) {
      rfb::parseSecurityTypes(("SSO" + suffix).c_str(), types);
    } else if (!std::strchr(text, '+') && methodId(text) == kLegacyMethodId) {
      rfb::parseSecurityTypes(("RA2" + suffix).c_str(), types);
      if (level == 0 && strcasecmp(text, "YarlAuth") == 0) types.push_back(rfb::kSecTypeYarlAuth);
    }
  }
}

}  // namespace

const char* parameterText(SAuthentication scheme, const char* customText) noexcept {
  return scheme < kAuthCustom ? kSchemes[scheme].text : customText;
}

plat::CharArray displayName(SAuthentication scheme) {
  switch (scheme) {
    case kAuthSystemAuthRadius:
    case kAuthSystemAuthDuo:
    case kAuthSystemAuthSecurID: {
      plat::DString name;
      name.appendf("%s + %s", displayName(kAuthSystemAuth).c_str(), loc::translate(kSchemes[scheme].displayKey));
      return name.release();
    }
    case kAuthCustom:
      return plat::CharArray(loc::translate("svr_sauthentication_custom"));
    default:
      if (scheme > kAuthCustom) return plat::CharArray("");
      return localized(kSchemes[scheme].displayKey, kSchemes[scheme].platformInName);
  }
}

plat::CharArray description(SAuthentication scheme) {
  if (scheme >= kAuthCustom) return plat::CharArray("");
  return localized(kSchemes[scheme].descriptionKey, kSchemes[scheme].platformInDescription);
}

SAuthentication fromText(const char* text) noexcept {
  if (!text) return kAuthCustom;
  for (uint32_t scheme = kAuthUnset; scheme < kAuthCustom; ++scheme) {
    if (strcasecmp(text, kSchemes[scheme].text) == 0) return static_cast<SAuthentication>(scheme);
  }
  return kAuthCustom;
}

SAuthentication fromConfiguration(const plat::Configuration& conf) {
  if (!isAutoSecurityTypes(conf)) return kAuthCustom;
  return fromText(paramValue(conf, "Authentication").get());
}

const char* platformName() noexcept { return "Mac"; }

void registerMethod(const char* word, uint32_t id, bool add) {
  std::vector<MethodListener> listeners;
  {
    plat::MutexLock lock(registryMutex);
    Registry& r = registry();
    if (add) {
      r.methods[word] = id;
    } else {
      r.methods.erase(word);
    }
    listeners = r.listeners;
  }
  // Outside the lock: a listener may well look words up again.
  for (MethodListener listener : listeners) listener();
}

void addMethodListener(MethodListener listener) {
  plat::MutexLock lock(registryMutex);
  registry().listeners.push_back(listener);
}

uint32_t methodId(const char* word) {
  if (!word) return 0;
  plat::MutexLock lock(registryMutex);
  const Registry& r = registry();
  auto found = r.methods.find(word);
  return found == r.methods.end() ? 0 : found->second;
}

qoauth::SAuthFlows parseAuthList(const char* text, bool strict) {
  qoauth::SAuthFlows flows;
  plat::CharArrayList alternatives;
  plat::strSplitList(text, ',', alternatives);
  for (const plat::CharArray& alternative : alternatives) {
    if (*alternative.c_str() == '\0') continue;
    if (strcasecmp(alternative.get(), "None") == 0) {
      flows.add({});
      continue;
    }
    plat::CharArrayList words;
    plat::strSplitList(alternative.get(), '+', words);
    qoauth::SAuthFlows::Flow chain;
    bool bad = false;
    for (plat::CharArray& word : words) {
      const uint32_t id = methodId(word.get());
      if (id == 0) {
        if (strict) throw plat::Exception("Unknown auth method \"%s\"", word.get());
        // The rest is still read, so that strict and lenient parses walk
        // the same words.
        bad = true;
        continue;
      }
      chain.push_back({id, std::move(word)});
    }
    if (!bad && !chain.empty()) flows.add(std::move(chain));
  }
  return flows;
}

plat::CharArray authListText(const qoauth::SAuthFlows& flows) {
  plat::DString text;
  bool firstFlow = true;
  for (const qoauth::SAuthFlows::Flow& flow : flows.flows()) {
    if (!firstFlow) text.append(",");
    firstFlow = false;
    if (flow.empty()) {
      text.append("None");
      continue;
    }
    bool firstMethod = true;
    for (const qoauth::SAuthFlows::Method& method : flow) {
      if (!firstMethod) text.append("+");
      firstMethod = false;
      text.append(method.word.c_str());
    }
  }
  // Non-null even for no flows.
  return text.empty() ? plat::CharArray("") : text.release();
}

void singleMethodAlternatives(const char* text, plat::CharArrayList& alternatives) {
  plat::CharArrayList all;
  plat::strSplitList(text, ',', all);
  for (plat::CharArray& alternative : all) {
    if (std::strchr(alternative.get(), '+')) continue;
    const uint32_t id = methodId(alternative.get());
    if (strcasecmp(alternative.get(), "None") == 0 || id == kLegacyMethodId || id == kStandaloneMethodId)
      alternatives.push_back(std::move(alternative));
  }
}

bool hasNoneAlternative(const char* text) {
  const qoauth::SAuthFlows flows = parseAuthList(text, false);
  for (const qoauth::SAuthFlows::Flow& flow : flows.flows()) {
    if (flow.empty()) return true;
  }
  return false;
}

bool hasMethodWord(const char* word, const char* text, const char* otherText) {
  if (parseAuthList(text, false).hasMethodWord(word)) return true;
  return otherText && parseAuthList(otherText, false).hasMethodWord(word);
}

bool hasLegacyMethod(const plat::Configuration& conf) {
  return parseAuthList(paramValue(conf, "Authentication").get(), false).hasMethodId(kLegacyMethodId);
}

void resolveSecurityTypes(const char* secTypes, const char* encryption, const char* authentication,
                          rfb::SecTypeList& types) {
  if (!secTypes || strcasecmp(secTypes, kAuto) != 0) {
    rfb::parseSecurityTypes(secTypes, types);
    return;
  }
  resolveSecurityTypes(encryptionFromText(encryption), authentication, types);
}

void resolveSecurityTypes(SEncryption mode, const char* authentication, rfb::SecTypeList& types) {
  switch (mode) {
    case kEncAlwaysMaximum:
      appendLevel(2, authentication, types);
      break;
    case kEncAlwaysOn:
      appendLevel(1, authentication, types);
      break;
    case kEncPreferOn:
      appendLevel(1, authentication, types);
      appendLevel(0, authentication, types);
      break;
    case kEncPreferOff:
      appendLevel(0, authentication, types);
      appendLevel(1, authentication, types);
      break;
    case kEncAlwaysOff:
      appendLevel(0, authentication, types);
      break;
    default:
      break;
  }
}

void securityTypesFromConfiguration(const plat::Configuration& conf, rfb::SecTypeList& types) {
  resolveSecurityTypes(paramValue(conf, "SecurityTypes").get(), paramValue(conf, "Encryption").get(),
                       paramValue(conf, "Authentication").get(), types);
}

}  // namespace svr
