#pragma once
// Key symbols: the 32-bit X11-style keysyms keys travel as, and their
// Unicode code points.
//
// Named keys and the legacy character sets keep their legacy keysym values
// (0xFF0D Return, 0x0AAE ellipsis); every other character is the Unicode
// keysym 0x01000000 + code point.  Canonical keysyms let left and right
// modifiers, keypad keys and their main-keyboard twins compare equal.
//
// The look-up maps are built on the first call (once, whatever the thread)
// and only read afterwards, so every function may be called from any
// thread.

#include <cstdint>
#include <set>
#include <vector>

#include "qocore/base/plat/DString.h"

namespace rfb {

// The toolkit's key-combination word: the keysym in the low 25 bits and
// these modifier flags above it.
inline constexpr uint32_t kKeysymMask = 0x1FFFFFF;
inline constexpr uint32_t kKeyFlagShift = 0x2000000;
inline constexpr uint32_t kKeyFlagControl = 0x4000000;
inline constexpr uint32_t kKeyFlagAlt = 0x8000000;

// Whether a keysym is a Unicode keysym (0x01000000 + code point).
constexpr bool isUnicodeKeysym(uint32_t keysym) { return (keysym & 0xFFE00000) == 0x01000000; }

// The keysym of a code point: Latin-1 printables as themselves, the legacy
// keysym when there is one, else the Unicode keysym for U+0100..U+10FFFF;
// 0 for the control characters without a key and for anything else.
uint32_t ucs2keysym(int32_t ucs);
// The code point of a keysym (of its canonical form), 0 when it has none.
int32_t keysym2ucs(uint32_t keysym);
// A Unicode keysym becomes its legacy keysym when there is one, and an
// alias (right modifier, keypad key) its canonical keysym.
uint32_t canonicalKeysym(uint32_t keysym);
// A Unicode keysym becomes its legacy keysym when there is one.
uint32_t legacyKeysym(uint32_t keysym);
// The other member of the keysym's alias pair (KP_5 for 0x35, Shift_R for
// Shift_L and back), 0 when it has none.
uint32_t pairedKeysym(uint32_t keysym);

struct Utf8KeysymOptions {
  // Control characters with a key (tab, line feed, escape...) are kept.
  bool allowControl = false;
  // Characters without a keysym and malformed sequences are left out;
  // otherwise any of them empties the whole result.
  bool skipUnmappable = false;
};
// The keysyms of a UTF-8 text, up to `end` or its NUL (end null: the NUL).
// A null or empty text gives an empty list.
std::vector<uint32_t> utf8ToKeysyms(const char* begin, const char* end, Utf8KeysymOptions options = {});

// Shift, Control, Caps and Shift lock, Meta, Alt, Super and Hyper keys,
// Mode_switch, Num_Lock and the ISO lock and level keys.
bool isModifierKeysym(uint32_t keysym) noexcept;
bool isKeypadKeysym(uint32_t keysym) noexcept;
// Audio volume down, mute and volume up.
bool isVolumeKeysym(uint32_t keysym) noexcept;

// A one-character UTF-8 text gives that character's keysym, "F1".."F19"
// the function keys; anything else 0.  `name` must not be null.
uint32_t keysymFromName(const char* name);
// The short display name of a special key ("Enter", "PgUp", "F5"), null
// for any other keysym.
const char* keysymName(uint32_t keysym) noexcept;
// Display text of a combination word, as "Ctrl+Shift+F5": the modifiers
// always in the order Ctrl, Shift, Alt, then the key's name, its character
// (letters upper-cased) or "[Unknown key]"; nothing after the modifiers
// when the keysym part is 0.
plat::DString keyComboText(uint32_t combination);

// Whether a set of pressed keysyms holds either Control, Shift or Alt key.
bool isCtrlDown(const std::set<uint32_t>& pressed) noexcept;
bool isShiftDown(const std::set<uint32_t>& pressed) noexcept;
bool isAltDown(const std::set<uint32_t>& pressed) noexcept;

}  // namespace rfb
