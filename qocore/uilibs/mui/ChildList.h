#pragma once
// The owned child list that containers keep: a sequence of entries, each
// holding its element in a member `element` (a std::unique_ptr) beside the
// container's own per-child fields.  A child leaves the list before it is
// destroyed, so its destructor sees the container without it.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/uilibs/mui/MuElement.h"

namespace mui::child_list {

template <typename Entry>
typename std::vector<Entry>::iterator find(std::vector<Entry>& list, const MuElement* element) {
  return std::find_if(list.begin(), list.end(), [element](const Entry& e) { return e.element.get() == element; });
}

// A negative index counts from the end; out of range gives null.
template <typename Entry>
MuElement* at(const std::vector<Entry>& list, int32_t index) {
  const int64_t count = static_cast<int64_t>(list.size());
  const int64_t i = index < 0 ? index + count : index;
  return i >= 0 && i < count ? list[static_cast<size_t>(i)].element.get() : nullptr;
}

// Removes and destroys the element; one that is not in the list is ignored.
template <typename Entry>
void destroy(std::vector<Entry>& list, const MuElement* element) {
  auto i = find(list, element);
  if (i == list.end()) return;
  std::unique_ptr<MuElement> gone = std::move(i->element);
  list.erase(i);
}

// Destroys every element, last first.
template <typename Entry>
void destroyAll(std::vector<Entry>& list) {
  while (!list.empty()) {
    std::unique_ptr<MuElement> gone = std::move(list.back().element);
    list.pop_back();
  }
}

}  // namespace mui::child_list
