#include "qocore/base/rfb/Keysym.h"

#include <map>

#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rfb/KeysymTable.h"

namespace rfb {

namespace {

struct AliasPair {
  uint32_t alias;
  uint32_t canonical;
};

// Right-hand modifiers, Mode_switch and the keypad keys, each with the key
// it stands for.
// clang-format off
constexpr AliasPair kAliases[] = {
  {0xFFE2, 0xFFE1},  // Shift_R       Shift_L
  {0xFFE4, 0xFFE3},  // Control_R     Control_L
  {0xFFE8, 0xFFE7},  // Meta_R        Meta_L
  {0xFFEA, 0xFFE9},  // Alt_R         Alt_L
  {0xFFEC, 0xFFEB},  // Super_R       Super_L
  {0xFFEE, 0xFFED},  // Hyper_R       Hyper_L
  {0xFF7E, 0xFE03},  // Mode_switch   ISO_Level3_Shift
  {0xFF80, 0x0020},  // KP_Space      space
  {0xFF89, 0xFF09},  // KP_Tab        Tab
  {0xFF8D, 0xFF0D},  // KP_Enter      Return
  {0xFF91, 0xFFBE},  // KP_F1         F1
  {0xFF92, 0xFFBF},  // KP_F2         F2
  {0xFF93, 0xFFC0},  // KP_F3         F3
  {0xFF94, 0xFFC1},  // KP_F4         F4
  {0xFF95, 0xFF50},  // KP_Home       Home
  {0xFF96, 0xFF51},  // KP_Left       Left
  {0xFF97, 0xFF52},  // KP_Up         Up
  {0xFF98, 0xFF53},  // KP_Right      Right
  {0xFF99, 0xFF54},  // KP_Down       Down
  {0xFF9A, 0xFF55},  // KP_Prior      Prior
  {0xFF9B, 0xFF56},  // KP_Next       Next
  {0xFF9C, 0xFF57},  // KP_End        End
  {0xFF9D, 0xFF58},  // KP_Begin      Begin
  {0xFF9E, 0xFF63},  // KP_Insert     Insert
  {0xFF9F, 0xFFFF},  // KP_Delete     Delete
  {0xFFBD, 0x003D},  // KP_Equal      =
  {0xFFAA, 0x002A},  // KP_Multiply   *
  {0xFFAB, 0x002B},  // KP_Add        +
  {0xFFAC, 0x002C},  // KP_Separator  ,
  {0xFFAD, 0x002D},  // KP_Subtract   -
  {0xFFAE, 0x002E},  // KP_Decimal    .
  {0xFFAF, 0x002F},  // KP_Divide     /
  {0xFFB0, 0x0030},  // KP_0          0
  {0xFFB1, 0x0031},  // KP_1          1
  {0xFFB2, 0x0032},  // KP_2          2
  {0xFFB3, 0x0033},  // KP_3          3
  {0xFFB4, 0x0034},  // KP_4          4
  {0xFFB5, 0x0035},  // KP_5          5
  {0xFFB6, 0x0036},  // KP_6          6
  {0xFFB7, 0x0037},  // KP_7          7
  {0xFFB8, 0x0038},  // KP_8          8
  {0xFFB9, 0x0039},  // KP_9          9
};
// clang-format on

struct NamedKey {
  uint32_t keysym;
  const char* name;
};

// clang-format off
constexpr NamedKey kKeyNames[] = {
  {0xFF08, "BkSp"}, {0xFF09, "Tab"},  {0xFF0D, "Enter"}, {0xFF1B, "Esc"},
  {0xFF50, "Home"}, {0xFF51, "Left"}, {0xFF52, "Up"},    {0xFF53, "Right"},
  {0xFF54, "Down"}, {0xFF55, "PgUp"}, {0xFF56, "PgDn"},  {0xFF57, "End"},
  {0xFF63, "Ins"},  {0xFFFF, "Del"},
  {0xFFBE, "F1"},   {0xFFBF, "F2"},   {0xFFC0, "F3"},    {0xFFC1, "F4"},
  {0xFFC2, "F5"},   {0xFFC3, "F6"},   {0xFFC4, "F7"},    {0xFFC5, "F8"},
  {0xFFC6, "F9"},   {0xFFC7, "F10"},  {0xFFC8, "F11"},   {0xFFC9, "F12"},
};
// clang-format on

constexpr uint32_t kUnicodeKeysymBase = 0x01000000;

// The four look-up maps, built together on first use (a function-local
// static, so concurrent first calls build them once) and released at exit.
struct Maps {
  std::map<uint32_t, uint32_t> ucsToKeysym;
  std::map<uint32_t, uint32_t> keysymToUcs;
  std::map<uint32_t, uint32_t> aliasToCanonical;
  std::map<uint32_t, uint32_t> canonicalToAlias;

  Maps() {
    // A repeated key keeps its later pair.
    for (const KeysymUcsPair& p : kKeysymUcsPairs) {
      ucsToKeysym[p.ucs] = p.keysym;
      keysymToUcs[p.keysym] = p.ucs;
    }
    for (const AliasPair& p : kAliases) {
      aliasToCanonical[p.alias] = p.canonical;
      canonicalToAlias[p.canonical] = p.alias;
    }
  }
};

const Maps& maps() {
  static const Maps instance;
  return instance;
}

// The value a map holds for key, or 0.
uint32_t lookUp(const std::map<uint32_t, uint32_t>& map, uint32_t key) {
  auto it = map.find(key);
  return it == map.end() ? 0 : it->second;
}

// Latin-1 keysyms are their own code points, except the C0 and C1 controls
// (and DEL), which no character key produces.
int32_t latin1Ucs(uint32_t keysym) {
  if (keysym < 32 || (keysym >= 127 && keysym < 160)) return 0;
  return static_cast<int32_t>(keysym);
}

bool holdsEither(const std::set<uint32_t>& pressed, uint32_t a, uint32_t b) {
  return pressed.count(a) != 0 || pressed.count(b) != 0;
}

}  // namespace

uint32_t ucs2keysym(int32_t ucs) {
  if ((ucs >= 0x20 && ucs <= 0x7E) || (ucs >= 0xA0 && ucs <= 0xFF)) return static_cast<uint32_t>(ucs);
  if (uint32_t keysym = lookUp(maps().ucsToKeysym, static_cast<uint32_t>(ucs))) return keysym;
  if (ucs >= 0x100 && ucs <= 0x10FFFF) return kUnicodeKeysymBase + static_cast<uint32_t>(ucs);
  return 0;
}

int32_t keysym2ucs(uint32_t keysym) {
  if (keysym < 256) return latin1Ucs(keysym);
  keysym = canonicalKeysym(keysym);
  if (keysym < 256) return latin1Ucs(keysym);
  if (isUnicodeKeysym(keysym)) return static_cast<int32_t>(keysym & 0x1FFFFF);
  return static_cast<int32_t>(lookUp(maps().keysymToUcs, keysym));
}

uint32_t canonicalKeysym(uint32_t keysym) {
  keysym = legacyKeysym(keysym);
  if (uint32_t canonical = lookUp(maps().aliasToCanonical, keysym)) return canonical;
  return keysym;
}

uint32_t legacyKeysym(uint32_t keysym) {
  if (isUnicodeKeysym(keysym)) return ucs2keysym(static_cast<int32_t>(keysym & 0x1FFFFF));
  return keysym;
}

uint32_t pairedKeysym(uint32_t keysym) {
  if (uint32_t canonical = lookUp(maps().aliasToCanonical, keysym)) return canonical;
  return lookUp(maps().canonicalToAlias, keysym);
}

std::vector<uint32_t> utf8ToKeysyms(const char* begin, const char* end, Utf8KeysymOptions options) {
  std::vector<uint32_t> keysyms;
  if (!begin) return keysyms;
  const char* p = begin;
  while (end ? p < end : true) {
    unsigned char lead = static_cast<unsigned char>(*p++);
    if (lead == 0) break;
    int32_t ucs = lead;
    if (lead >= 0x80) {
      // Without an end the NUL stops the decoder: it is no continuation byte.
      int available = 4;
      if (end && end - (p - 1) < available) available = static_cast<int>(end - (p - 1));
      ucs = plat::utf8Decode(lead, &p, available);
    }
    uint32_t keysym = ucs > 0 ? ucs2keysym(ucs) : 0;
    if (keysym != 0 && (ucs >= 32 || options.allowControl)) {
      keysyms.push_back(keysym);
    } else if (!options.skipUnmappable) {
      return {};
    }
  }
  return keysyms;
}

bool isModifierKeysym(uint32_t keysym) noexcept {
  return (keysym >= 0xFFE1 && keysym <= 0xFFEF) || keysym == 0xFF7E || keysym == 0xFF7F ||
         (keysym >= 0xFE01 && keysym <= 0xFE0F);
}

bool isKeypadKeysym(uint32_t keysym) noexcept { return keysym >= 0xFF80 && keysym <= 0xFFBD; }

bool isVolumeKeysym(uint32_t keysym) noexcept { return keysym >= 0x1008FF11 && keysym <= 0x1008FF13; }

uint32_t keysymFromName(const char* name) {
  const unsigned char lead = static_cast<unsigned char>(name[0]);
  if (lead != 0) {
    const char* p = name + 1;
    int32_t ucs = lead < 0x80 ? lead : plat::utf8Decode(lead, &p, 4);
    if (ucs > 0 && *p == '\0') return ucs2keysym(ucs);
  }
  if (name[0] == 'F') {
    // One or two digits, 1 to 19.
    int n = 0;
    int digits = 0;
    for (const char* p = name + 1; *p; ++p, ++digits) {
      if (*p < '0' || *p > '9' || digits == 2) return 0;
      n = n * 10 + (*p - '0');
    }
    if (n >= 1 && n <= 19) return 0xFFBD + static_cast<uint32_t>(n);
  }
  return 0;
}

const char* keysymName(uint32_t keysym) noexcept {
  for (const NamedKey& k : kKeyNames) {
    if (k.keysym == keysym) return k.name;
  }
  return nullptr;
}

plat::DString keyComboText(uint32_t combination) {
  plat::DString text;
  if (combination & kKeyFlagControl) text.append("Ctrl+");
  if (combination & kKeyFlagShift) text.append("Shift+");
  if (combination & kKeyFlagAlt) text.append("Alt+");
  const uint32_t keysym = combination & kKeysymMask;
  if (keysym == 0) return text;
  if (const char* name = keysymName(keysym)) {
    text.append(name);
    return text;
  }
  int32_t ucs = keysym2ucs(keysym);
  // Surrogate halves have no UTF-8 form.
  if (ucs == 0 || (ucs >= 0xD800 && ucs <= 0xDFFF)) {
    text.append("[Unknown key]");
    return text;
  }
  if (ucs >= 'a' && ucs <= 'z') ucs -= 'a' - 'A';
  text.appendChars(ucs);
  return text;
}

bool isCtrlDown(const std::set<uint32_t>& pressed) noexcept { return holdsEither(pressed, 0xFFE3, 0xFFE4); }

bool isShiftDown(const std::set<uint32_t>& pressed) noexcept { return holdsEither(pressed, 0xFFE1, 0xFFE2); }

bool isAltDown(const std::set<uint32_t>& pressed) noexcept { return holdsEither(pressed, 0xFFE9, 0xFFEA); }

}  // namespace rfb
