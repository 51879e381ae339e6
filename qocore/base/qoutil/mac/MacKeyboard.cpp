#include "qocore/base/qoutil/mac/MacKeyboard.h"

#include <ctype.h>
#include <locale.h>
#include <strings.h>
#include <wctype.h>

#include <mutex>

#include "platform/appkit/Constants.h"
#include "platform/appkit/CoreGraphics.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/qoutil/InteractionTexts.h"
#include "qocore/base/rfb/Keysym.h"

namespace qoutil {

namespace {

const char* const kMappingNames[] = {"Alt_L", "Alt_R", "Super_L", "Super_R", "ExtendedChars", nullptr};

// The library's texts come first: the parameters' descriptions are keys
// into them.
[[maybe_unused]] const bool textsRegistered = (registerMessages(), true);

plat::EnumParameter leftOptKey("LeftOptKey", plat::LocDesc{"qoutil_param_leftoptkey"}, "ExtendedChars", kMappingNames);
plat::EnumParameter rightOptKey("RightOptKey", plat::LocDesc{"qoutil_param_rightoptkey"}, "ExtendedChars",
                                kMappingNames);
plat::EnumParameter leftCmdKey("LeftCmdKey", plat::LocDesc{"qoutil_param_leftcmdkey"}, "Alt_L", kMappingNames);
plat::EnumParameter rightCmdKey("RightCmdKey", plat::LocDesc{"qoutil_param_rightcmdkey"}, "Super_L", kMappingNames);

struct KeyEntry {
  int code;
  uint32_t keysym;
};

// Searched in order: the keypad Clear key also gives Escape, so Escape's
// reverse lookup finds the main Escape key first.
constexpr KeyEntry kKeyCodes[] = {
    {36, 0xFF0D},  {48, 0xFF09},  {51, 0xFF08},  {53, 0xFF1B},  {56, 0xFFE1},  {57, 0xFFE5},  {59, 0xFFE3},
    {60, 0xFFE2},  {62, 0xFFE4},  {64, 0xFFCE},  {71, 0xFF1B},  {76, 0xFF8D},  {79, 0xFFCF},  {80, 0xFFD0},
    {96, 0xFFC2},  {97, 0xFFC3},  {98, 0xFFC4},  {99, 0xFFC0},  {100, 0xFFC5}, {101, 0xFFC6}, {103, 0xFFC8},
    {105, 0xFFCA}, {106, 0xFFCD}, {107, 0xFFCB}, {109, 0xFFC7}, {111, 0xFFC9}, {113, 0xFFCC}, {114, 0xFF6A},
    {115, 0xFF50}, {116, 0xFF55}, {117, 0xFFFF}, {118, 0xFFC1}, {119, 0xFF57}, {120, 0xFFBF}, {121, 0xFF56},
    {122, 0xFFBE}, {123, 0xFF51}, {124, 0xFF53}, {125, 0xFF54}, {126, 0xFF52},
};

constexpr KeyEntry kModifierFlags[] = {
    {56, 0x20000}, {60, 0x20000}, {58, 0x80000},  {61, 0x80000},
    {59, 0x40000}, {62, 0x40000}, {55, 0x100000}, {54, 0x100000},
};

constexpr KeyEntry kSpecialKeys[] = {
    {0, 0x1008FF13},  {1, 0x1008FF11},  {7, 0x1008FF12},  {2, 0x1008FF02},  {3, 0x1008FF03},  {5, 0xFF6A},
    {13, 0x1008FF1A}, {14, 0x1008FF2C}, {15, 0x1008FF59}, {16, 0x1008FF14}, {17, 0x1008FF17}, {18, 0x1008FF16},
    {19, 0x1008FF97}, {20, 0x1008FF3E}, {21, 0x1008FF05}, {22, 0x1008FF06}, {23, 0x1008FF04},
};

// Position i stands for the menu character 0xF700 + i.
constexpr uint32_t kFunctionKeys[] = {
    0xFF52, 0xFF54, 0xFF51, 0xFF53,                                                  // arrows
    0xFFBE, 0xFFBF, 0xFFC0, 0xFFC1, 0xFFC2, 0xFFC3, 0xFFC4, 0xFFC5, 0xFFC6, 0xFFC7,  // F1..F10
    0xFFC8, 0xFFC9, 0xFFCA, 0xFFCB, 0xFFCC, 0xFFCD, 0xFFCE, 0xFFCF, 0xFFD0, 0xFFD1,  // F11..F20
    0xFFD2, 0xFFD3, 0xFFD4, 0xFFD5, 0xFFD6, 0xFFD7, 0xFFD8, 0xFFD9, 0xFFDA, 0xFFDB,  // F21..F30
    0xFFDC, 0xFFDD, 0xFFDE, 0xFFDF, 0xFFE0,                                          // F31..F35
    0xFF63, 0xFFFF, 0xFF50, 0xFF58, 0xFF57, 0xFF55, 0xFF56, 0xFF61, 0xFF14, 0xFF13, 0xFF15, 0xFF6B,
};
static_assert(sizeof kFunctionKeys / sizeof kFunctionKeys[0] == 51);

uint32_t parameterKeysym(const plat::EnumParameter& param, bool rightOption) {
  return keyMappingKeysym(kMappingNames[param.getValue()], rightOption);
}

bool isKeypadKey(int code) {
  return code == 65 || code == 67 || code == 69 || code == 75 || code == 78 || (code >= 81 && code <= 89) ||
         code == 91 || code == 92;
}

}  // namespace

uint32_t keyMappingKeysym(const char* value, bool rightOption) {
  if (!value) return 0;
  if (!strcasecmp(value, "Alt_L")) return 0xFFE9;
  if (!strcasecmp(value, "Alt_R")) return 0xFFEA;
  if (!strcasecmp(value, "Super_L")) return 0xFFEB;
  if (!strcasecmp(value, "Super_R")) return 0xFFEC;
  if (!strcasecmp(value, "ExtendedChars")) return rightOption ? 0xFF7E : 0xFE03;
  return 0;
}

uint32_t macModifierKeysym(int keyCode) {
  switch (keyCode) {
    case 54:
      return parameterKeysym(rightCmdKey, false);
    case 55:
      return parameterKeysym(leftCmdKey, false);
    case 58:
      return parameterKeysym(leftOptKey, false);
    case 61:
      return parameterKeysym(rightOptKey, true);
    default:
      break;
  }
  for (const KeyEntry& e : kKeyCodes)
    if (e.code == keyCode) return e.keysym;
  return 0;
}

int keysymToMacKeyCode(uint32_t keysym) {
  for (const KeyEntry& e : kKeyCodes)
    if (e.keysym == keysym) return e.code;
  return -1;
}

bool isExtendedCharsKey(int keyCode) {
  uint32_t keysym = macModifierKeysym(keyCode);
  return keysym == 0xFF7E || keysym == 0xFE03;
}

uint32_t macModifierFlagForKeyCode(int keyCode) {
  for (const KeyEntry& e : kModifierFlags)
    if (e.code == keyCode) return e.keysym;
  return 0;
}

uint32_t macModifierFlagsToKeyFlags(uint64_t flags) {
  return static_cast<uint32_t>(((flags << 8) & 0xA000000) | ((flags << 6) & 0x4000000));
}

uint32_t keyFlagsToMacModifierFlags(uint32_t flags) { return ((flags >> 8) & 0xA0000) | ((flags >> 6) & 0x100000); }

uint32_t keysymToMacChar(uint32_t keysym) {
  int32_t ucs = rfb::keysym2ucs(keysym);
  if (ucs > 0) return static_cast<uint32_t>(ucs);
  for (uint32_t i = 0; i < sizeof kFunctionKeys / sizeof kFunctionKeys[0]; ++i)
    if (kFunctionKeys[i] == keysym) return 0xF700 + i;
  return 0;
}

uint32_t keysymForTypedChar(uint32_t ch, int keyCode) {
  if (ch > 0x10FFFF) return 0;
  uint32_t keysym = rfb::ucs2keysym(static_cast<int32_t>(ch));
  if (isKeypadKey(keyCode))
    if (uint32_t paired = rfb::pairedKeysym(keysym)) return paired;
  return keysym;
}

uint32_t specialKeyKeysym(int type) {
  for (const KeyEntry& e : kSpecialKeys)
    if (e.code == type) return e.keysym;
  return 0;
}

int keysymToSpecialKey(uint32_t keysym) {
  for (const KeyEntry& e : kSpecialKeys)
    if (e.keysym == keysym) return e.code;
  return -1;
}

uint32_t toLowerGerman(uint32_t ch) {
  if (ch < 128) return static_cast<uint32_t>(tolower(static_cast<int>(ch)));
  // Made on first use, not from a static initialiser: the locale is often
  // not installed, and then the C library's UTF-8 locale still lowers
  // every letter by its Unicode case mapping.
  static locale_t german = [] {
    locale_t loc = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (!loc) loc = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
    return loc;
  }();
  if (!german || ch > 0x10FFFF) return ch;
  // towlower_l takes the code point; the byte-wise tolower_l would only
  // see values below 256.
  return static_cast<uint32_t>(towlower_l(static_cast<wint_t>(ch), german));
}

bool postUnicodeKey(uint16_t ch) {
  for (bool down : {true, false}) {
    appkit::KeyboardEvent* e = appkit::createKeyboardEvent(nullptr, 112, down);
    appkit::keyboardSetUnicodeString(e, 1, &ch);
    appkit::postKeyboardEvent(appkit::kSessionEventTap, e);
    appkit::releaseKeyboardEvent(e);
  }
  return true;
}

}  // namespace qoutil
