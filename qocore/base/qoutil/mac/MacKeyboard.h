#pragma once
// The Mac keyboard in the toolkit's terms: virtual key codes of keys that
// type no character to keysyms and back, the configurable meaning of the
// Command and Option keys, modifier-flag words to key-flag bits and back,
// the characters menus show for keys, special (media) keys, lower-casing
// of typed characters, and posting a character as a synthetic key press.

#include <cstdint>

namespace qoutil {

// The keysym a mapping value stands for: "Alt_L", "Alt_R", "Super_L",
// "Super_R" (any case), and "ExtendedChars" as Mode_switch for the right
// Option key and ISO_Level3_Shift for the others; 0 for anything else.
uint32_t keyMappingKeysym(const char* value, bool rightOption);

// The keysym of a Mac key code: the Command and Option keys follow their
// parameters, other keys the fixed table; 0 when the key has none.
uint32_t macModifierKeysym(int keyCode);
// The first key code of the table that gives the keysym; -1 when none.
int keysymToMacKeyCode(uint32_t keysym);
// Whether the key is mapped to extended characters (AltGr).
bool isExtendedCharsKey(int keyCode);
// The Mac modifier flag a modifier key sets; 0 for other keys.
uint32_t macModifierFlagForKeyCode(int keyCode);

// Mac modifier flags to the toolkit's key flags: Shift to Shift, Command
// to Control, Option to Alt; the Mac Control flag and the rest are dropped.
uint32_t macModifierFlagsToKeyFlags(uint64_t flags);
// The inverse.
uint32_t keyFlagsToMacModifierFlags(uint32_t flags);

// The character a menu key equivalent uses for the keysym: its Unicode
// character, the private-use function-key character, or 0.
uint32_t keysymToMacChar(uint32_t keysym);
// The keysym of a typed character; keypad keys give the keypad keysym.
uint32_t keysymForTypedChar(uint32_t ch, int keyCode);

// System-defined special keys.
uint32_t specialKeyKeysym(int type);
int keysymToSpecialKey(uint32_t keysym);

// The lower case of a typed character under the German locale (the
// platform lower-cases menu mnemonics and key equivalents that way).
uint32_t toLowerGerman(uint32_t ch);

// Posts the character as a synthetic key press and release; true.
bool postUnicodeKey(uint16_t ch);

}  // namespace qoutil
