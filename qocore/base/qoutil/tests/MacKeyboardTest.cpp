#include <gtest/gtest.h>

#include <cstring>

#include "platform/appkit/CoreGraphics.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/qoutil/mac/MacKeyboard.h"

namespace qoutil {
namespace {

// Sets a keyboard parameter for one test and takes it back after.
class KeyParam {
 public:
  KeyParam(const char* name, const char* value) : name_(name) {
    ok = plat::Configuration::global().setParam(name, value, plat::ConfigParameter::kPreference);
  }
  ~KeyParam() { plat::Configuration::global().getEnumParam(name_).unsetParam(plat::ConfigParameter::kPreference); }
  bool ok;

 private:
  const char* name_;
};

TEST(MacKeyboardTest, ModifierKeysFollowTheirParameters) {
  // The defaults.
  EXPECT_EQ(macModifierKeysym(55), 0xFFE9u);  // left Command: Alt_L
  EXPECT_EQ(macModifierKeysym(54), 0xFFEBu);  // right Command: Super_L
  EXPECT_EQ(macModifierKeysym(58), 0xFE03u);  // left Option: ISO_Level3_Shift
  EXPECT_EQ(macModifierKeysym(61), 0xFF7Eu);  // right Option: Mode_switch
  EXPECT_TRUE(isExtendedCharsKey(58));
  EXPECT_FALSE(isExtendedCharsKey(55));
  {
    KeyParam p("RightCmdKey", "super_r");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(macModifierKeysym(54), 0xFFECu);
    KeyParam bad("LeftOptKey", "Meta_L");
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(macModifierKeysym(58), 0xFE03u);
  }
  EXPECT_EQ(macModifierKeysym(54), 0xFFEBu);
  {
    KeyParam p("RightOptKey", "Alt_R");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(macModifierKeysym(61), 0xFFEAu);
    EXPECT_FALSE(isExtendedCharsKey(61));
  }
  struct {
    const char* value;
    bool right;
    uint32_t keysym;
  } values[] = {{"alt_l", false, 0xFFE9},
                {"ALT_R", false, 0xFFEA},
                {"Super_L", true, 0xFFEB},
                {"ExtendedChars", true, 0xFF7E},
                {"extendedchars", false, 0xFE03},
                {"Hyper", false, 0},
                {"", true, 0},
                {nullptr, false, 0}};
  for (const auto& v : values) EXPECT_EQ(keyMappingKeysym(v.value, v.right), v.keysym) << (v.value ? v.value : "null");
  // Every parameter has its description in the translation table.
  for (const char* name : {"LeftOptKey", "RightOptKey", "LeftCmdKey", "RightCmdKey"}) {
    const char* desc = plat::Configuration::global().getEnumParam(name).getDescription();
    ASSERT_NE(desc, nullptr);
    EXPECT_NE(std::strstr(desc, "ExtendedChars (AltGr)"), nullptr) << name;
  }
}

TEST(MacKeyboardTest, KeyCodesAndKeysymsBothWays) {
  struct {
    int code;
    uint32_t keysym;
  } cases[] = {{36, 0xFF0D}, {53, 0xFF1B}, {71, 0xFF1B}, {122, 0xFFBE}, {126, 0xFF52}, {117, 0xFFFF}, {0, 0}, {200, 0}};
  for (const auto& c : cases) EXPECT_EQ(macModifierKeysym(c.code), c.keysym) << c.code;
  EXPECT_EQ(keysymToMacKeyCode(0xFF1B), 53);  // Escape: the main key, not keypad Clear
  EXPECT_EQ(keysymToMacKeyCode(0xFF52), 126);
  EXPECT_EQ(keysymToMacKeyCode(0x61), -1);
  EXPECT_EQ(macModifierFlagForKeyCode(60), 0x20000u);
  EXPECT_EQ(macModifierFlagForKeyCode(61), 0x80000u);
  EXPECT_EQ(macModifierFlagForKeyCode(62), 0x40000u);
  EXPECT_EQ(macModifierFlagForKeyCode(54), 0x100000u);
  EXPECT_EQ(macModifierFlagForKeyCode(36), 0u);
}

TEST(MacKeyboardTest, ModifierFlagsAndKeyFlags) {
  // Shift + Control + Command: the Mac Control flag is dropped.
  EXPECT_EQ(macModifierFlagsToKeyFlags(0x20000 | 0x40000 | 0x100000), 0x2000000u | 0x4000000u);
  EXPECT_EQ(macModifierFlagsToKeyFlags(0x80000), 0x8000000u);
  EXPECT_EQ(macModifierFlagsToKeyFlags(0x10000 | 0x800000 | 0x100), 0u);
  EXPECT_EQ(keyFlagsToMacModifierFlags(0x8000000), 0x80000u);
  EXPECT_EQ(keyFlagsToMacModifierFlags(0x2000000 | 0x4000000 | 0xFFE9), 0x20000u | 0x100000u);
}

TEST(MacKeyboardTest, MenuCharactersTypedCharactersAndSpecialKeys) {
  EXPECT_EQ(keysymToMacChar(0x61), 0x61u);
  EXPECT_EQ(keysymToMacChar(0xFFBE), 0xF704u);  // F1
  EXPECT_EQ(keysymToMacChar(0xFF52), 0xF700u);  // Up
  EXPECT_EQ(keysymToMacChar(0xFF6B), 0xF732u);  // Break, the last entry
  EXPECT_EQ(keysymToMacChar(0xFFE1), 0u);       // Shift_L: neither
  // "5" on the keypad and on the main row.
  EXPECT_EQ(keysymForTypedChar('5', 87), 0xFFB5u);
  EXPECT_EQ(keysymForTypedChar('5', 23), 0x35u);
  EXPECT_EQ(keysymForTypedChar(0x20AC, 0), 0x20ACu);  // the euro sign's legacy keysym
  for (int type : {0, 1, 2, 3, 5, 7, 13, 17, 23}) EXPECT_EQ(keysymToSpecialKey(specialKeyKeysym(type)), type) << type;
  for (int type : {4, 6, 8, 12, 24, -1}) EXPECT_EQ(specialKeyKeysym(type), 0u) << type;
  EXPECT_EQ(specialKeyKeysym(16), 0x1008FF14u);
  EXPECT_EQ(keysymToSpecialKey(0x61), -1);
}

TEST(MacKeyboardTest, LowerCasingCoversEveryPlane) {
  struct {
    uint32_t in, out;
  } cases[] = {{'A', 'a'},     {'z', 'z'},       {'1', '1'},         {0xC4, 0xE4},        {0xDC, 0xFC},
               {0x1E9E, 0xDF}, {0x0410, 0x0430}, {0x10400, 0x10428}, {0x110000, 0x110000}};
  for (const auto& c : cases) EXPECT_EQ(toLowerGerman(c.in), c.out) << std::hex << c.in;
}

TEST(MacKeyboardTest, PostedCharacterIsAKeyPressAndRelease) {
  appkit::postedKeyboardEvents().clear();
  EXPECT_TRUE(postUnicodeKey(0x00FC));
  const auto& posted = appkit::postedKeyboardEvents();
  ASSERT_EQ(posted.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(posted[i].virtualKey, 112);
    EXPECT_EQ(posted[i].keyDown, i == 0);
    EXPECT_EQ(posted[i].unicode, std::vector<uint16_t>{0x00FC});
    EXPECT_EQ(posted[i].tap, 1);
  }
}

}  // namespace
}  // namespace qoutil
