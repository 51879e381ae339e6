#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/rfb/Keysym.h"
#include "qocore/base/rfb/KeysymTable.h"

namespace {

constexpr uint32_t kUnicode = 0x01000000;

struct KeysymCase {
  uint32_t keysym;
  uint32_t expected;
};

// Over the legacy character keysyms, a differential check against
// xkbcommon's keysym -> code point mapping.  Where the two differ, the
// difference must be one the table's rule explains.
TEST(KeysymTest, LegacyKeysymsAgreeWithXkbcommon) {
  std::map<uint32_t, uint32_t> unexplained;
  int agreed = 0;
  for (uint32_t keysym = 0x100; keysym <= 0x20FF; ++keysym) {
    const uint32_t reference = xkb_keysym_to_utf32(keysym);
    const int32_t ours = rfb::keysym2ucs(keysym);
    if (static_cast<uint32_t>(ours) == reference) {
      agreed += reference != 0;
      continue;
    }
    SCOPED_TRACE(testing::Message() << std::hex << "keysym 0x" << keysym << " ours 0x" << ours << " xkb 0x"
                                    << reference);
    if (reference < 0x100) {
      // Characters below U+0100 are their own Latin-1 keysyms; the legacy
      // approximations onto them are not in the list.
      EXPECT_EQ(ours, 0);
    } else if (ours == 0 && rfb::ucs2keysym(static_cast<int32_t>(reference)) < keysym) {
      // The code point belongs to a lower keysym.
      EXPECT_EQ(rfb::keysym2ucs(rfb::ucs2keysym(static_cast<int32_t>(reference))), static_cast<int32_t>(reference));
    } else {
      unexplained[keysym] = static_cast<uint32_t>(ours);
    }
  }
  EXPECT_GT(agreed, 700);
  // The angle brackets keep the header's (older) code points; Thai
  // maihanakat-maitho has none there.
  const std::map<uint32_t, uint32_t> headerDiffers = {{0x0ABC, 0x2329}, {0x0ABE, 0x232A}, {0x0DDE, 0}};
  EXPECT_EQ(unexplained, headerDiffers);
}

TEST(KeysymTest, CodePointsAboveLatin1AgreeWithXkbcommon) {
  std::map<int32_t, uint32_t> differ;
  for (int32_t ucs = 0x100; ucs <= 0x10FFFF; ++ucs) {
    const uint32_t reference = xkb_utf32_to_keysym(static_cast<uint32_t>(ucs));
    const uint32_t ours = rfb::ucs2keysym(ucs);
    // Noncharacters get a Unicode keysym like every code point here.
    const bool nonCharacter = (ucs >= 0xFDD0 && ucs <= 0xFDEF) || (ucs & 0xFFFE) == 0xFFFE;
    if (nonCharacter) {
      EXPECT_EQ(ours, kUnicode + static_cast<uint32_t>(ucs));
    } else if (ours != reference) {
      differ[ucs] = ours;
    }
  }
  const std::map<int32_t, uint32_t> headerDiffers = {{0x0E3E, kUnicode + 0x0E3E},
                                                     {0x2329, 0x0ABC},
                                                     {0x232A, 0x0ABE},
                                                     {0x27E8, kUnicode + 0x27E8},
                                                     {0x27E9, kUnicode + 0x27E9}};
  EXPECT_EQ(differ, headerDiffers);
}

// Control keys and keypad keys, where the mapping differs from xkbcommon
// on purpose: Return is a line feed and the keypad keys are their
// main-keyboard twins.
TEST(KeysymTest, KeysymToCodePoint) {
  const KeysymCase cases[] = {
      {0xFF0D, 0x0A},
      {0xFF8D, 0x0A},
      {0xFF08, 0x08},
      {0xFF09, 0x09},
      {0xFF89, 0x09},
      {0xFF1B, 0x1B},
      {0xFFFF, 0x7F},
      {0xFF9F, 0x7F},
      {0xFFB5, 0x35},
      {0xFFB0, 0x30},
      {0xFFAA, 0x2A},
      {0xFFBD, 0x3D},
      {0xFF80, 0x20},
      {0xFFE2, 0},
      {0xFFE1, 0},
      {0xFF0A, 0},
      {0x7F, 0},
      {0x1F, 0},
      {0x00, 0},
      {0x9F, 0},
      {0x20, 0x20},
      {0x7E, 0x7E},
      {0xA0, 0xA0},
      {0xFF, 0xFF},
      {0x03C0, 0x0100},
      {0x0AAE, 0x2026},
      {0x20AC, 0x20AC},
      {0x0EF7, 0x318E},
      {0x0100, 0},
      {kUnicode + 0x41, 0x41},
      {kUnicode + 0x1F600, 0x1F600},
      {kUnicode + 0x0A, 0x0A},
      {kUnicode + 0x10FFFF, 0x10FFFF},
      {kUnicode + 0x0D, 0},
      {kUnicode + 0x1FFFFF, 0},
      {0x1008FF11, 0},
  };
  for (const KeysymCase& c : cases) {
    EXPECT_EQ(rfb::keysym2ucs(c.keysym), static_cast<int32_t>(c.expected)) << std::hex << "keysym 0x" << c.keysym;
  }
}

TEST(KeysymTest, CodePointToKeysym) {
  const struct {
    int32_t ucs;
    uint32_t keysym;
  } cases[] = {
      {0x0A, 0xFF0D},
      {0x0D, 0},
      {0x09, 0xFF09},
      {0x08, 0xFF08},
      {0x1B, 0xFF1B},
      {0x7F, 0xFFFF},
      {0x00, 0},
      {0x1F, 0},
      {0x80, 0},
      {0x9F, 0},
      {-1, 0},
      {0x20, 0x20},
      {0x41, 0x41},
      {0x7E, 0x7E},
      {0xA0, 0xA0},
      {0xFF, 0xFF},
      {0x100, 0x03C0},
      {0x131, 0x02B9},
      {0x408, 0x06B8},
      {0x5DF, 0x0CEF},
      {0x203E, 0x047E},
      {0x2026, 0x0AAE},
      {0x20AC, 0x20AC},
      {0x318E, 0x0EF7},
      {0x1F600, kUnicode + 0x1F600},
      {0x318F, kUnicode + 0x318F},
      {0x10FFFF, kUnicode + 0x10FFFF},
      {0x110000, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rfb::ucs2keysym(c.ucs), c.keysym) << std::hex << "U+" << c.ucs;
  }
}

TEST(KeysymTest, CanonicalLegacyAndPairedForms) {
  const struct {
    uint32_t keysym, canonical, legacy, paired;
  } cases[] = {
      {kUnicode + 0x41, 0x41, 0x41, 0},
      {kUnicode + 0x2026, 0x0AAE, 0x0AAE, 0},
      {kUnicode + 0x1F600, kUnicode + 0x1F600, kUnicode + 0x1F600, 0},
      {kUnicode + 0x0A, 0xFF0D, 0xFF0D, 0},
      {0xFF8D, 0xFF0D, 0xFF8D, 0xFF0D},  // KP_Enter
      {0xFF0D, 0xFF0D, 0xFF0D, 0xFF8D},
      {0xFFE4, 0xFFE3, 0xFFE4, 0xFFE3},  // Control_R
      {0xFFE3, 0xFFE3, 0xFFE3, 0xFFE4},
      {0xFFE1, 0xFFE1, 0xFFE1, 0xFFE2},
      {0xFF7E, 0xFE03, 0xFF7E, 0xFE03},  // Mode_switch
      {0xFFB5, 0x35, 0xFFB5, 0x35},      // KP_5
      {0x35, 0x35, 0x35, 0xFFB5},
      {0xFF9F, 0xFFFF, 0xFF9F, 0xFFFF},  // KP_Delete
      {0xFF91, 0xFFBE, 0xFF91, 0xFFBE},  // KP_F1
      {0xFFBD, 0x3D, 0xFFBD, 0x3D},      // KP_Equal
      {kUnicode + 0x35, 0x35, 0x35, 0},
      {0x41, 0x41, 0x41, 0},
      {0xFFC2, 0xFFC2, 0xFFC2, 0},
      {0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "keysym 0x" << c.keysym);
    EXPECT_EQ(rfb::canonicalKeysym(c.keysym), c.canonical);
    EXPECT_EQ(rfb::legacyKeysym(c.keysym), c.legacy);
    EXPECT_EQ(rfb::pairedKeysym(c.keysym), c.paired);
  }
  // Every keypad key reads as its twin: the same character or the same
  // canonical key.
  for (uint32_t keypad = 0xFF80; keypad <= 0xFFBD; ++keypad) {
    const uint32_t twin = rfb::pairedKeysym(keypad);
    if (twin == 0) continue;
    EXPECT_EQ(rfb::canonicalKeysym(keypad), twin);
    EXPECT_EQ(rfb::pairedKeysym(twin), keypad);
    EXPECT_EQ(rfb::keysym2ucs(keypad), rfb::keysym2ucs(twin));
  }
}

TEST(KeysymTest, TableHasTheControlPairsThenLegacyCharactersInCodePointOrder) {
  const std::vector<rfb::KeysymUcsPair> controls = {
      {0xFF08, 0x08}, {0xFF09, 0x09}, {0xFF0D, 0x0A}, {0xFF1B, 0x1B}, {0xFFFF, 0x7F}};
  const size_t n = std::size(rfb::kKeysymUcsPairs);
  ASSERT_GT(n, controls.size() + 700);
  std::set<uint32_t> keysyms;
  std::set<uint32_t> codePoints;
  for (size_t i = 0; i < n; ++i) {
    const rfb::KeysymUcsPair& p = rfb::kKeysymUcsPairs[i];
    SCOPED_TRACE(testing::Message() << std::hex << "pair " << std::dec << i << std::hex << " 0x" << p.keysym << " U+"
                                    << p.ucs);
    EXPECT_TRUE(keysyms.insert(p.keysym).second);
    EXPECT_TRUE(codePoints.insert(p.ucs).second);
    if (i < controls.size()) {
      EXPECT_EQ(p.keysym, controls[i].keysym);
      EXPECT_EQ(p.ucs, controls[i].ucs);
      continue;
    }
    EXPECT_GE(p.keysym, 0x01A1u);
    EXPECT_LE(p.keysym, 0x20ACu);
    EXPECT_GE(p.ucs, 0x100u);
    EXPECT_LE(p.ucs, 0x318Eu);
    if (i > controls.size()) {
      EXPECT_GT(p.ucs, rfb::kKeysymUcsPairs[i - 1].ucs);
    }
    // Both look-ups give the pair back.
    EXPECT_EQ(rfb::ucs2keysym(static_cast<int32_t>(p.ucs)), p.keysym);
    EXPECT_EQ(rfb::keysym2ucs(p.keysym), static_cast<int32_t>(p.ucs));
  }
  EXPECT_EQ(rfb::kKeysymUcsPairs[controls.size()].keysym, 0x03C0u);  // U+0100
  EXPECT_EQ(rfb::kKeysymUcsPairs[n - 1].keysym, 0x0EF7u);            // U+318E
}

TEST(KeysymTest, Classification) {
  const struct {
    uint32_t keysym;
    bool modifier, keypad, volume;
  } cases[] = {
      {0xFFE0, false, false, false},     {0xFFE1, true, false, false},     {0xFFEF, true, false, false},
      {0xFFF0, false, false, false},     {0xFF7D, false, false, false},    {0xFF7E, true, false, false},
      {0xFF7F, true, false, false},      {0xFE00, false, false, false},    {0xFE01, true, false, false},
      {0xFE0F, true, false, false},      {0xFE10, false, false, false},    {0xFF7F, true, false, false},
      {0xFF80, false, true, false},      {0xFFBD, false, true, false},     {0xFFBE, false, false, false},
      {0x1008FF10, false, false, false}, {0x1008FF11, false, false, true}, {0x1008FF13, false, false, true},
      {0x1008FF14, false, false, false}, {0x41, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "keysym 0x" << c.keysym);
    EXPECT_EQ(rfb::isModifierKeysym(c.keysym), c.modifier);
    EXPECT_EQ(rfb::isKeypadKeysym(c.keysym), c.keypad);
    EXPECT_EQ(rfb::isVolumeKeysym(c.keysym), c.volume);
  }
}

TEST(KeysymTest, KeysymFromName) {
  const struct {
    const char* name;
    uint32_t keysym;
  } cases[] = {
      {"F1", 0xFFBE},
      {"F12", 0xFFC9},
      {"F19", 0xFFD0},
      {"F20", 0},
      {"F0", 0},
      {"F", 0x46},
      {"a", 0x61},
      {"\xE2\x80\xA6", 0x0AAE},  // U+2026
      {"\xF0\x9F\x98\x80", kUnicode + 0x1F600},
      {"ab", 0},
      {"", 0},
      {"f5", 0},
      {"F1x", 0},
      {"F123", 0},
      {"\xE2\x80", 0},
      {"\t", 0xFF09},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rfb::keysymFromName(c.name), c.keysym) << '"' << c.name << '"';
  }
}

TEST(KeysymTest, NamesAndComboTexts) {
  EXPECT_STREQ(rfb::keysymName(0xFF0D), "Enter");
  EXPECT_STREQ(rfb::keysymName(0xFF56), "PgDn");
  EXPECT_STREQ(rfb::keysymName(0xFFBE), "F1");
  EXPECT_STREQ(rfb::keysymName(0xFFC9), "F12");
  EXPECT_EQ(rfb::keysymName(0xFFCA), nullptr);  // F13
  EXPECT_EQ(rfb::keysymName(0xFF8D), nullptr);
  EXPECT_EQ(rfb::keysymName(0x41), nullptr);

  const uint32_t shift = rfb::kKeyFlagShift, ctrl = rfb::kKeyFlagControl, alt = rfb::kKeyFlagAlt;
  const struct {
    uint32_t combination;
    const char* text;
  } cases[] = {
      {ctrl | 0x61, "Ctrl+A"},
      {alt | ctrl | 0xFFC2, "Ctrl+Alt+F5"},
      {shift, "Shift+"},
      {alt | shift | ctrl | 0xFF1B, "Ctrl+Shift+Alt+Esc"},
      {0xFFFF, "Del"},
      {ctrl | 0xFFE1, "Ctrl+[Unknown key]"},
      {alt | 0x1008FF11, "Alt+[Unknown key]"},  // the keysym part is 0x8FF11
      {shift | 0x7A, "Shift+Z"},
      {0xE9, "\xC3\xA9"},                        // é stays lower case
      {0x0AAE, "\xE2\x80\xA6"},                  // …
      {kUnicode + 0x1F600, "\xF0\x9F\x98\x80"},  // 😀
      {kUnicode + 0x62, "B"},
      {ctrl | 0xFFB5, "Ctrl+5"},
      {0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(rfb::keyComboText(c.combination).c_str()), c.text) << std::hex << c.combination;
  }
}

TEST(KeysymTest, Utf8ToKeysyms) {
  using V = std::vector<uint32_t>;
  const struct {
    const char* text;
    int length;  // -1: up to the NUL
    bool allowControl, skipUnmappable;
    V expected;
  } cases[] = {
      {"Ab", -1, false, false, {0x41, 0x62}},
      {"a\tb", -1, false, false, {}},
      {"a\tb", -1, false, true, {0x61, 0x62}},
      {"a\tb\n", -1, true, false, {0x61, 0xFF09, 0x62, 0xFF0D}},
      {"a\rb", -1, true, false, {}},  // no key types a carriage return
      {"a\rb", -1, true, true, {0x61, 0x62}},
      {"\xE2\x80\xA6\xF0\x9F\x98\x80", -1, false, false, {0x0AAE, kUnicode + 0x1F600}},
      {"a\xFF"
       "b",
       -1,
       false,
       false,
       {}},
      {"a\xFF"
       "b",
       -1,
       false,
       true,
       {0x61, 0x62}},
      {"a\xE2\x80", -1, false, true, {0x61}},  // cut short by the NUL
      {"abc", 2, false, false, {0x61, 0x62}},
      {"a\xE2\x80\xA6", 3, false, false, {}},  // cut short by the end
      {"a\xE2\x80\xA6", 3, false, true, {0x61}},
      {"ab\0cd", 5, false, false, {0x61, 0x62}},  // a NUL ends the text
      {"", -1, false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" control " << c.allowControl << " skip "
                                    << c.skipUnmappable);
    const char* end = c.length < 0 ? nullptr : c.text + c.length;
    EXPECT_EQ(rfb::utf8ToKeysyms(c.text, end, {.allowControl = c.allowControl, .skipUnmappable = c.skipUnmappable}),
              c.expected);
  }
  EXPECT_TRUE(rfb::utf8ToKeysyms(nullptr, nullptr, {.allowControl = true, .skipUnmappable = true}).empty());
}

TEST(KeysymTest, ModifierSets) {
  const struct {
    std::set<uint32_t> pressed;
    bool ctrl, shift, alt;
  } cases[] = {
      {{}, false, false, false},
      {{0xFFE3}, true, false, false},
      {{0xFFE4, 0x41}, true, false, false},
      {{0xFFE1}, false, true, false},
      {{0xFFE2}, false, true, false},
      {{0xFFE9}, false, false, true},
      {{0xFFEA, 0xFFE2, 0xFFE3}, true, true, true},
      {{0xFFE7, 0xFFEB, 0xFF7E}, false, false, false},  // Meta, Super and Mode_switch are none of them
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rfb::isCtrlDown(c.pressed), c.ctrl);
    EXPECT_EQ(rfb::isShiftDown(c.pressed), c.shift);
    EXPECT_EQ(rfb::isAltDown(c.pressed), c.alt);
  }
}

// The maps are built by whichever call comes first; in a fresh process
// (the threadsafe death-test style re-runs the executable) many threads
// make that first call at once and all see the full maps.
TEST(KeysymDeathTest, ConcurrentFirstLookUpsSeeTheWholeTable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::vector<std::thread> threads;
        std::vector<int> wrong(8, 0);
        for (int t = 0; t < 8; ++t) {
          threads.emplace_back([t, &wrong] {
            for (const rfb::KeysymUcsPair& p : rfb::kKeysymUcsPairs) {
              const bool right = t % 2 ? rfb::keysym2ucs(p.keysym) == static_cast<int32_t>(p.ucs)
                                       : rfb::ucs2keysym(static_cast<int32_t>(p.ucs)) == p.keysym;
              wrong[t] += !right;
            }
          });
        }
        for (std::thread& th : threads) th.join();
        for (int w : wrong) {
          if (w != 0) std::_Exit(1);
        }
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
