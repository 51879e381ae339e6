#include "libs/score/Mode.h"

#include <strings.h>

#include <iterator>

#include "libs/score/ScoreMessages.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Exception.h"

namespace score {

namespace {

// Indexed by mode.
constexpr const char* kWords[] = {"user", "service", "virtual"};

// Read and set from one thread at start-up; constant-initialised, so
// static initialisers may ask for it.
constinit Mode current = kUser;

// The display texts are looked up from the first use on.
[[maybe_unused]] const bool textsRegistered = (registerMessages(), true);

}  // namespace

Mode currentMode() noexcept { return current; }

void setCurrentMode(Mode mode) {
  PLAT_ASSERT(mode <= kVirtual);
  current = mode;
}

const char* currentModeName() noexcept { return kWords[current]; }

const char* modeName(Mode mode) {
  switch (mode) {
    case kVirtual:
      return loc::translate("score_mode_virtual");
    case kService:
      return loc::translate("score_mode_service");
    default:
      return loc::translate("score_mode_user");
  }
}

bool isModeName(const char* text) noexcept {
  if (!text) return false;
  for (const char* word : kWords) {
    if (strcasecmp(text, word) == 0) return true;
  }
  return false;
}

Mode parseMode(const char* text) {
  if (text) {
    for (size_t i = 0; i < std::size(kWords); ++i) {
      if (strcasecmp(text, kWords[i]) == 0) return static_cast<Mode>(i);
    }
  }
  throw plat::Exception("Bad mode name");
}

}  // namespace score
