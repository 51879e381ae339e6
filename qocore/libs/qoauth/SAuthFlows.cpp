#include "qocore/libs/qoauth/SAuthFlows.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace qoauth {

namespace {

bool sameWord(const char* a, const char* b) noexcept { return plat::strCompare(a, b) == 0; }

constexpr size_t kMaxCount = 65536;

}  // namespace

void SAuthFlows::select(uint32_t id, const char* word) {
  std::vector<Flow> narrowed;
  for (Flow& flow : flows_) {
    if (flow.empty() || flow.front().id != id || !sameWord(flow.front().word.get(), word)) continue;
    Flow rest;
    rest.reserve(flow.size() - 1);
    std::move(flow.begin() + 1, flow.end(), std::back_inserter(rest));
    narrowed.push_back(std::move(rest));
  }
  // Only matching flows were moved from, so when none matched the flows
  // are still whole.
  PLAT_REQUIRE_TEXT(!narrowed.empty(), "!empty()");
  flows_ = std::move(narrowed);
}

bool SAuthFlows::hasMethodId(uint32_t id) const noexcept {
  for (const Flow& flow : flows_) {
    for (const Method& method : flow) {
      if (method.id == id) return true;
    }
  }
  return false;
}

bool SAuthFlows::hasMethodWord(const char* word) const noexcept {
  for (const Flow& flow : flows_) {
    for (const Method& method : flow) {
      if (sameWord(method.word.get(), word)) return true;
    }
  }
  return false;
}

void SAuthFlows::removeFlowsWithIds(const std::vector<uint32_t>& ids) {
  std::erase_if(flows_, [&ids](const Flow& flow) {
    return std::any_of(flow.begin(), flow.end(), [&ids](const Method& method) {
      return std::find(ids.begin(), ids.end(), method.id) != ids.end();
    });
  });
}

plat::StringSet SAuthFlows::allMethodWords() const {
  plat::StringSet words;
  for (const Flow& flow : flows_) {
    for (const Method& method : flow) {
      if (method.word) words.insert(method.word);
    }
  }
  return words;
}

plat::CharArrayList SAuthFlows::firstMethodWords(uint32_t id) const {
  plat::CharArrayList words;
  for (const Flow& flow : flows_) {
    if (!flow.empty() && (id == kAnyMethodId || flow.front().id == id)) words.push_back(flow.front().word);
  }
  return words;
}

void SAuthFlows::write(rdr::OutStream& os) const {
  PLAT_ASSERT_TEXT(flows_.size() < kMaxCount, "size() < 65536");
  for (const Flow& flow : flows_) PLAT_ASSERT_TEXT(flow.size() < kMaxCount, "i.size() < 65536");
  os.writeU16(static_cast<uint16_t>(flows_.size()));
  for (const Flow& flow : flows_) {
    os.writeU16(static_cast<uint16_t>(flow.size()));
    for (const Method& method : flow) {
      os.writeU16(static_cast<uint16_t>(method.id));
      os.writeString8(method.word.get());
    }
  }
}

void SAuthFlows::read(rdr::InStream& is) {
  flows_.clear();
  std::vector<Flow> flows;
  // Every count is at most 65535 and every method takes three bytes of the
  // stream at least, so what is built stays in proportion to the input.
  for (uint16_t flowCount = is.readU16(); flowCount > 0; --flowCount) {
    Flow flow;
    for (uint16_t methodCount = is.readU16(); methodCount > 0; --methodCount) {
      Method method;
      method.id = is.readU16();
      method.word = is.readString8();
      flow.push_back(std::move(method));
    }
    flows.push_back(std::move(flow));
  }
  flows_ = std::move(flows);
}

}  // namespace qoauth
