#include "qocore/uilibs/mui/MuPager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/uilibs/mui/Adopt.h"
#include "qocore/uilibs/mui/ChildList.h"

namespace mui {

MuPager* (*muPagerFactory)(MuContainer* parent, const char* id, uint32_t style) = nullptr;

MuPager* MuPager::create(MuContainer* parent, const char* id, uint32_t style) {
  PLAT_ASSERT(muPagerFactory);
  return adopt(parent, muPagerFactory(parent, id, style));
}

MuPager::MuPager(MuContainer* parent, const char* id, uint32_t style) : MuContainer(parent, id), style_(style) {}

MuPager::~MuPager() { child_list::destroyAll(pages_); }

plat::DString MuPager::describe() {
  plat::DString text = MuElement::describe();
  text.appendf("element Pager\npage %d\n", current_);
  return text;
}

plat::DString MuPager::listItems() {
  plat::DString text;
  // A page never labelled prints an empty label.
  for (size_t i = 0; i < pages_.size(); ++i) text.appendf("%d:%s\n", static_cast<int>(i), pages_[i].label.c_str());
  return text;
}

void MuPager::setSize(Size size) {
  MuElement::setSize(size);
  relayout();
}

bool MuPager::performAction(const char* action, const char* argument) {
  if (!acceptsActions() || std::strcmp(action, "select") != 0) return false;
  // Without an argument no page matches; the observers still hear of it.
  const int32_t n = argument ? std::atoi(argument) : -1;
  if (isValid(n)) {
    current_ = n;
    relayout();
    showCurrentPage();
  }
  notifyObservers(this, kEventChanged);
  return true;
}

MuElement* MuPager::childAt(int32_t index) { return child_list::at(pages_, index); }

int32_t MuPager::childCount() { return static_cast<int32_t>(pages_.size()); }

void MuPager::addChild(MuElement* element) {
  PLAT_ASSERT(element);
  pages_.push_back(Page{std::unique_ptr<MuElement>(element), plat::CharArray()});
}

void MuPager::removeChild(MuElement* element) {
  auto i = child_list::find(pages_, element);
  PLAT_ASSERT_TEXT(i != pages_.end(), "i != pages.end()");
  if (i - pages_.begin() <= current_) current_ = std::max(current_ - 1, 0);
  child_list::destroy(pages_, element);
}

void MuPager::relayout() {
  for (size_t i = 0; i < pages_.size(); ++i) pages_[i].element->setVisible(static_cast<int32_t>(i) == current_);
}

void MuPager::removeAll() {
  child_list::destroyAll(pages_);
  current_ = 0;
}

void MuPager::setPage(int32_t index) {
  if (!isValid(index)) return;
  current_ = index;
  relayout();
  showCurrentPage();
}

void MuPager::onPageSelected(int32_t i) {
  PLAT_ASSERT(isValid(i));
  current_ = i;
  relayout();
  notifyObservers(this, kEventChanged);
}

void MuPager::setPageLabel(MuElement* element, const char* label) {
  auto i = child_list::find(pages_, element);
  if (i == pages_.end()) return;
  if (plat::strCompare(i->label.get(), label) != 0) i->label = plat::CharArray(label);
  pageLabelChanged(static_cast<int32_t>(i - pages_.begin()));
}

const char* MuPager::pageLabel(int32_t index) const { return isValid(index) ? pages_[index].label.get() : nullptr; }

}  // namespace mui
