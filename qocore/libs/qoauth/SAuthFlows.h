#pragma once
// qoauth::SAuthFlows: the ways in which a connecting user may authenticate.
// Each flow is a chain of methods that must all succeed in order; an empty
// flow needs no authentication at all.  As authentication proceeds, the
// flows are narrowed to those whose next method is the one being used.
//
// Binary form, numbers big-endian:
//
//   u16 flow count, then per flow:
//     u16 method count, then per method:
//       u16 the low 16 bits of the method id
//       u8 length and the word's bytes (at most 255; longer words are cut)

#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace qoauth {

class SAuthFlows {
 public:
  struct Method {
    uint32_t id = 0;
    // May be null.  Two words are equal when both are null or both hold
    // the same bytes.
    plat::CharArray word;
  };
  using Flow = std::vector<Method>;

  // firstMethodWords' id for "whatever the id".
  static constexpr uint32_t kAnyMethodId = 0xffffffff;

  const std::vector<Flow>& flows() const noexcept { return flows_; }
  bool empty() const noexcept { return flows_.empty(); }
  size_t size() const noexcept { return flows_.size(); }
  // Appends a flow after the others.
  void add(Flow flow) { flows_.push_back(std::move(flow)); }

  // Keeps only the flows whose first method has this id and an equal word,
  // and takes that method off each of them.  When no flow would remain,
  // throws plat::AssertionFail "!empty()" and leaves the flows as they
  // were: the caller chose a method no flow allows.
  void select(uint32_t id, const char* word);

  bool hasMethodId(uint32_t id) const noexcept;
  bool hasMethodWord(const char* word) const noexcept;
  // Removes every flow holding a method whose id is in the list.
  void removeFlowsWithIds(const std::vector<uint32_t>& ids);
  // Every word present in any flow, sorted, each once (null words are not
  // words and are left out).
  plat::StringSet allMethodWords() const;
  // The first method's word of each non-empty flow, in order, whose first
  // method has this id (any id for kAnyMethodId).
  plat::CharArrayList firstMethodWords(uint32_t id) const;

  // The binary form.  Fewer than 65536 flows, each of fewer than 65536
  // methods, can be written; more is an assertion failure.
  void write(rdr::OutStream& os) const;
  // Replaces the flows by those read; a missing word comes back as an
  // empty one.  When the stream fails, the flows are left empty and the
  // stream's exception passes on.
  void read(rdr::InStream& is);

 private:
  std::vector<Flow> flows_;
};

}  // namespace qoauth
