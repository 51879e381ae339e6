#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/libs/qoauth/SAuthFlows.h"

namespace {

using qoauth::SAuthFlows;

// Method ids as a server might number them.
constexpr uint32_t kSystemAuth = 1;
constexpr uint32_t kRadius = 5;
constexpr uint32_t kDuo = 0x10203;  // only the low 16 bits travel

SAuthFlows::Method method(uint32_t id, const char* word) { return {id, plat::CharArray(word)}; }

SAuthFlows makeFlows(std::vector<SAuthFlows::Flow> flows) {
  SAuthFlows result;
  for (SAuthFlows::Flow& flow : flows) result.add(std::move(flow));
  return result;
}

// Each flow as its words joined by "+", "-" for an empty flow and "(null)"
// for a missing word.
std::vector<std::string> describe(const SAuthFlows& flows) {
  std::vector<std::string> out;
  for (const SAuthFlows::Flow& flow : flows.flows()) {
    std::string text = flow.empty() ? "-" : "";
    for (const SAuthFlows::Method& m : flow) {
      if (!text.empty()) text += "+";
      text += m.word ? m.word.get() : "(null)";
      text += "/" + std::to_string(m.id);
    }
    out.push_back(text);
  }
  return out;
}

std::vector<uint8_t> written(const SAuthFlows& flows) {
  rdr::MemOutStream os;
  flows.write(os);
  return std::vector<uint8_t>(os.data(), os.data() + os.length());
}

TEST(SAuthFlowsTest, SelectNarrowsToTheFlowsThatGoOnAndTakesTheMethodOff) {
  SAuthFlows flows = makeFlows({
      {method(kSystemAuth, "SystemAuth"), method(kRadius, "Radius")},
      {},
      {method(kDuo, "Duo")},
      {method(kSystemAuth, "SystemAuth"), method(kDuo, "Duo")},
      // The same id with another word, and with no word at all.
      {method(kSystemAuth, "YarlAuth")},
      {method(kSystemAuth, nullptr), method(kRadius, "Radius")},
  });
  flows.select(kSystemAuth, "SystemAuth");
  EXPECT_EQ(describe(flows), (std::vector<std::string>{"Radius/5", "Duo/66051"}));
  flows.select(kRadius, "Radius");
  EXPECT_EQ(describe(flows), (std::vector<std::string>{"-"}));

  // A missing word matches only a missing word.
  SAuthFlows unnamed = makeFlows({
      {method(kSystemAuth, nullptr), method(kRadius, "Radius")},
      {method(kSystemAuth, ""), method(kDuo, "Duo")},
  });
  unnamed.select(kSystemAuth, nullptr);
  EXPECT_EQ(describe(unnamed), (std::vector<std::string>{"Radius/5"}));
}

TEST(SAuthFlowsTest, SelectingAMethodThatStartsNoFlowThrowsAnAssertionTheCallerCatches) {
  struct Case {
    const char* what;
    std::vector<SAuthFlows::Flow> flows;
    uint32_t id;
    const char* word;
  };
  const Case cases[] = {
      {"no such first method", {{method(kSystemAuth, "SystemAuth"), method(kDuo, "Duo")}}, kDuo, "Duo"},
      {"same word, other id", {{method(kSystemAuth, "SystemAuth")}}, kRadius, "SystemAuth"},
      {"word differs in case", {{method(kSystemAuth, "SystemAuth")}}, kSystemAuth, "systemauth"},
      {"only the empty flow", {{}}, kSystemAuth, "SystemAuth"},
      {"no flows", {}, kSystemAuth, "SystemAuth"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SAuthFlows flows = makeFlows(c.flows);
    const std::vector<std::string> before = describe(flows);
    try {
      flows.select(c.id, c.word);
      ADD_FAILURE() << "nothing thrown";
    } catch (const plat::AssertionFail& e) {
      EXPECT_STREQ(e.expression(), "!empty()");
      EXPECT_THAT(e.str(), testing::StartsWith("Assertion '!empty()' failed at "));
    }
    // Nothing was taken: the caller may still try another method.
    EXPECT_EQ(describe(flows), before);
  }
}

TEST(SAuthFlowsTest, QueriesSeeEveryFlow) {
  const SAuthFlows flows = makeFlows({
      {},
      {method(kSystemAuth, "SystemAuth"), method(kDuo, "Duo")},
      {method(kRadius, "Radius")},
      {method(kSystemAuth, "YarlAuth"), method(kRadius, "Radius")},
      {method(9, nullptr)},
  });
  EXPECT_TRUE(flows.hasMethodId(kDuo));
  EXPECT_TRUE(flows.hasMethodId(9));
  EXPECT_FALSE(flows.hasMethodId(kDuo & 0xffff));
  EXPECT_TRUE(flows.hasMethodWord("Duo"));
  EXPECT_TRUE(flows.hasMethodWord(nullptr));
  EXPECT_FALSE(flows.hasMethodWord("duo"));
  EXPECT_FALSE(flows.hasMethodWord(""));

  auto texts = [](const auto& list) {
    std::vector<std::string> out;
    for (const plat::CharArray& text : list) out.push_back(text ? text.get() : "(null)");
    return out;
  };
  EXPECT_EQ(texts(flows.allMethodWords()), (std::vector<std::string>{"Duo", "Radius", "SystemAuth", "YarlAuth"}));
  EXPECT_EQ(texts(flows.firstMethodWords(kSystemAuth)), (std::vector<std::string>{"SystemAuth", "YarlAuth"}));
  EXPECT_EQ(texts(flows.firstMethodWords(kDuo)), std::vector<std::string>{});
  EXPECT_EQ(texts(flows.firstMethodWords(SAuthFlows::kAnyMethodId)),
            (std::vector<std::string>{"SystemAuth", "Radius", "YarlAuth", "(null)"}));
  EXPECT_EQ(SAuthFlows::kAnyMethodId, 4294967295u);

  SAuthFlows trimmed = flows;
  trimmed.removeFlowsWithIds({kDuo, 9});
  EXPECT_EQ(describe(trimmed), (std::vector<std::string>{"-", "Radius/5", "YarlAuth/1+Radius/5"}));
  trimmed.removeFlowsWithIds({});
  EXPECT_EQ(trimmed.size(), 3u);
}

TEST(SAuthFlowsTest, TheBinaryFormIsReadBackInOrder) {
  // None, then Duo alone.
  const SAuthFlows noneDuo = makeFlows({{}, {method(kDuo, "Duo")}});
  EXPECT_EQ(written(noneDuo),
            (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x03, 'D', 'u', 'o'}));

  const std::string longWord(300, 'w');
  const SAuthFlows flows = makeFlows({
      {method(kSystemAuth, "SystemAuth"), method(kRadius, "Radius")},
      {},
      {method(kDuo, "Duo"), method(7, nullptr), method(8, longWord.c_str())},
  });
  const std::vector<uint8_t> bytes = written(flows);
  // Earlier flows go when reading.
  SAuthFlows read = makeFlows({{method(3, "Old")}});
  rdr::MemInStream is(bytes.data(), static_cast<int32_t>(bytes.size()));
  read.read(is);
  EXPECT_TRUE(is.atEnd());
  // Ids keep their low 16 bits, a missing word comes back empty and a long
  // one is cut to 255 bytes.
  EXPECT_EQ(describe(read),
            (std::vector<std::string>{"SystemAuth/1+Radius/5", "-", "Duo/515+/7+" + std::string(255, 'w') + "/8"}));
  EXPECT_FALSE(read.flows()[2][1].word.isNull());

  // A stream that ends early leaves no flows behind.
  for (size_t cut : {size_t{1}, size_t{5}, bytes.size() - 1}) {
    SCOPED_TRACE(cut);
    SAuthFlows partial = flows;
    rdr::MemInStream shortStream(bytes.data(), static_cast<int32_t>(cut));
    EXPECT_THROW(partial.read(shortStream), rdr::EndOfStream);
    EXPECT_TRUE(partial.empty());
  }
}

TEST(SAuthFlowsTest, WritingMoreThanTheCountsHoldIsAnAssertionFailure) {
  // The most that fits: 65535 flows, one of them of 65535 methods.
  SAuthFlows most = makeFlows(std::vector<SAuthFlows::Flow>(65534));
  most.add(SAuthFlows::Flow(65535));
  EXPECT_EQ(written(most).size(), 2u + 65535 * 2 + 65535 * 3);

  SAuthFlows tooMany = makeFlows(std::vector<SAuthFlows::Flow>(65536));
  EXPECT_EXIT(written(tooMany), testing::KilledBySignal(SIGABRT), "Assertion 'size\\(\\) < 65536' failed");
  SAuthFlows tooLong = makeFlows({SAuthFlows::Flow(65536)});
  EXPECT_EXIT(written(tooLong), testing::KilledBySignal(SIGABRT), "Assertion 'i.size\\(\\) < 65536' failed");
}

}  // namespace
