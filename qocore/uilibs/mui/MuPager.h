#pragma once
// mui::MuPager: a stack of pages of which exactly one, the current page,
// is shown.  The pager keeps the pages, their labels and the current
// index; what a page switch looks like (tabs or a bare content area) is
// the backend's, reached through pageLabelChanged and showCurrentPage.

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuPager : public MuContainer {
 public:
  // Style 0 shows a tab per page; any other style only the content.
  static MuPager* create(MuContainer* parent, const char* id, uint32_t style);

  MuPager(MuContainer* parent, const char* id, uint32_t style);
  ~MuPager() override;

  const char* typeName() override { return "pager"; }
  plat::DString describe() override;
  // "index:label" per page.
  plat::DString listItems() override;
  void setSize(Size size) override;
  // "select" with a page number.
  bool performAction(const char* action, const char* argument) override;
  // A negative index counts from the end.
  MuElement* childAt(int32_t index) override;
  int32_t childCount() override;
  // Appends a page without label; no relayout, no event.
  void addChild(MuElement* element) override;
  // The current index moves back when a page at or before it goes.
  void removeChild(MuElement* element) override;
  // Only the current page stays visible; the geometry is the backend's.
  void relayout() override;
  void removeAll() override;

  // A page's label was set.
  virtual void pageLabelChanged(int32_t) {}
  // The program changed the current page: the backend brings it forward.
  virtual void showCurrentPage() {}

  // The program's page change; out of range is ignored.  No event.
  void setPage(int32_t index);
  // The user chose a page: it becomes current and observers learn of it.
  void onPageSelected(int32_t index);
  // Ignored for an element that is not a page.
  void setPageLabel(MuElement* element, const char* label);

  uint32_t style() const noexcept { return style_; }
  int32_t current() const noexcept { return current_; }
  // The page's label, or null.
  const char* pageLabel(int32_t index) const;

 private:
  struct Page {
    std::unique_ptr<MuElement> element;
    plat::CharArray label;
  };

  bool isValid(int32_t index) const noexcept { return index >= 0 && static_cast<size_t>(index) < pages_.size(); }

  uint32_t style_;
  std::vector<Page> pages_;
  int32_t current_ = 0;
};

// The backend's creator of pagers; null until the backend fills it.
extern MuPager* (*muPagerFactory)(MuContainer* parent, const char* id, uint32_t style);

}  // namespace mui
