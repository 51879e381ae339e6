#include "qocore/libs/svr/SEncryption.h"

#include <strings.h>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/libs/svr/SvrMessages.h"

namespace svr {

namespace {

struct Row {
  SEncryption mode;
  const char* word;
  const char* displayKey;
};

constexpr Row kModes[] = {
    {kEncAlwaysMaximum, "AlwaysMaximum", "svr_sencryption_always_maximum"},
    {kEncAlwaysOn, "AlwaysOn", "svr_sencryption_always_on"},
    {kEncPreferOn, "PreferOn", "svr_sencryption_prefer_on"},
    {kEncPreferOff, "PreferOff", "svr_sencryption_prefer_off"},
    {kEncAlwaysOff, "AlwaysOff", "svr_sencryption_always_off"},
};

// The current value of a parameter, null when the configuration has none.
plat::CharArray paramValue(const plat::Configuration& conf, const char* name) {
  const plat::ConfigParameter* param = conf.findParam(name);
  return param ? param->getValueStr() : plat::CharArray();
}

// The display texts are looked up from the first use on.
[[maybe_unused]] const bool textsRegistered = (registerMessages(), true);

}  // namespace

SEncryption encryptionFromText(const char* text) noexcept {
  if (!text) return kEncCustom;
  for (const Row& row : kModes) {
    if (strcasecmp(text, row.word) == 0) return row.mode;
  }
  return kEncCustom;
}

const char* encryptionParameterText(SEncryption mode, const char* fallback) noexcept {
  return mode < kEncCustom ? kModes[mode].word : fallback;
}

const char* encryptionDisplayName(SEncryption mode) {
  return mode < kEncCustom ? loc::translate(kModes[mode].displayKey) : "";
}

const char* encryptionShortDisplayName(SEncryption mode) {
  switch (mode) {
    case kEncAlwaysMaximum:
      return loc::translate("svr_sencryption_always_maximum_display");
    case kEncAlwaysOn:
      return loc::translate("svr_sencryption_always_on_display");
    case kEncPreferOn:
    case kEncPreferOff:
    case kEncAlwaysOff:
      return loc::translate("svr_sencryption_custom_display");
    default:
      return "";
  }
}

SEncryption encryptionFromConfiguration(const plat::Configuration& conf) {
  if (!isAutoSecurityTypes(conf)) return kEncCustom;
  return encryptionFromText(paramValue(conf, "Encryption").get());
}

bool isAutoSecurityTypes(const plat::Configuration& conf) {
  const plat::CharArray secTypes = paramValue(conf, "SecurityTypes");
  return secTypes && strcasecmp(secTypes.get(), "<auto>") == 0;
}

}  // namespace svr
