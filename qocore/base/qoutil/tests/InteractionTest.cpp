#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/qoutil/DragDetector.h"
#include "qocore/base/qoutil/InteractionTexts.h"
#include "qocore/base/qoutil/RandomString.h"

namespace {

TEST(DragDetectorTest, StartsOnceBeyondTheThreshold) {
  ASSERT_EQ(qoutil::DragDetector::threshold(), 5) << "ppmm at its default of 4";
  struct Case {
    rfb::Point move;
    bool starts;
  };
  const Case cases[] = {
      {{5, 0}, false}, {{-5, 5}, false}, {{6, 0}, true}, {{-6, 0}, true}, {{0, 6}, true}, {{0, -6}, true},
  };
  for (const Case& c : cases) {
    qoutil::DragDetector drag({100, 200});
    EXPECT_FALSE(drag.dragStarted({100, 200}));
    EXPECT_EQ(drag.dragStarted({100 + c.move.x, 200 + c.move.y}), c.starts) << c.move.x << "," << c.move.y;
    // Reported once: a further move after a start is no new start.
    EXPECT_FALSE(drag.dragStarted({100 + 3 * c.move.x, 200 + 3 * c.move.y}) && c.starts);
  }
  // Positions at the ends of the coordinate range do not overflow.
  qoutil::DragDetector far({INT32_MIN, 0});
  EXPECT_TRUE(far.dragStarted({INT32_MAX, 0}));
}

TEST(DragDetectorTest, TheThresholdFollowsTheDisplayDensity) {
  plat::ConfigParameter* ppmm = &plat::ppmm;
  ASSERT_TRUE(ppmm->setParam("8", 10));
  EXPECT_EQ(qoutil::DragDetector::threshold(), 10);
  qoutil::DragDetector drag({0, 0});
  EXPECT_FALSE(drag.dragStarted({10, 10}));
  EXPECT_TRUE(drag.dragStarted({0, 11}));
  ppmm->unsetParam(10);
}

TEST(RandomStringTest, CapitalisedWordsJoinedBySeparator) {
  std::set<std::string> table;
  for (const char* word : plat::kWordTable)
    if (word) table.insert(word);
  const std::string text = qoutil::randomString(3, "-").get();
  std::vector<std::string> words;
  std::stringstream split(text);
  for (std::string word; std::getline(split, word, '-');) words.push_back(word);
  ASSERT_EQ(words.size(), 3u) << text;
  for (std::string word : words) {
    ASSERT_FALSE(word.empty()) << text;
    EXPECT_TRUE(word[0] >= 'A' && word[0] <= 'Z') << word;
    word[0] = static_cast<char>(word[0] - 'A' + 'a');
    EXPECT_TRUE(table.count(word)) << word;
  }
  EXPECT_EQ(std::string(qoutil::randomString(1, nullptr).get()).find('-'), std::string::npos);
  EXPECT_STREQ(qoutil::randomString(0, "-").get(), "");
  EXPECT_NE(std::string(qoutil::randomString(8, " ").get()), std::string(qoutil::randomString(8, " ").get()));
  EXPECT_THROW(qoutil::randomString(INT32_MAX, "-"), plat::Exception);
}

TEST(InteractionTextsTest, RegisteredOnce) {
  qoutil::registerMessages();
  qoutil::registerMessages();
  auto* en = loc::Localize::instance().table("en");
  ASSERT_NE(en, nullptr);
  EXPECT_STREQ(en->at("qoutil_editmenu_select_all").text.get(), "Select All");
  EXPECT_STREQ(loc::Localize::instance().table("de")->at("qoutil_editmenu_copy").text.get(), "Kopieren");
}

}  // namespace
