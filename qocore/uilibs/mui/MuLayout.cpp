#include "qocore/uilibs/mui/MuLayout.h"

#include <algorithm>

#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/ChildList.h"
#include "qocore/uilibs/mui/MuSpacer.h"
#include "qocore/uilibs/mui/Mui.h"

namespace mui {

MuLayout* (*muLayoutFactory)(MuContainer* parent, const char* id, uint32_t direction) = nullptr;

namespace {

int32_t clamp32(int64_t v) noexcept { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// share x available / weights, truncating toward zero.  A share of 0 or
// less takes nothing: a zero weight would otherwise divide by zero.
int32_t weightedShare(int32_t share, int64_t available, int64_t weights) noexcept {
  if (share <= 0 || weights <= 0) return 0;
  return clamp32(share * available / weights);
}

}  // namespace

MuLayout* MuLayout::create(MuContainer* parent, const char* id, uint32_t direction) {
  PLAT_ASSERT(muLayoutFactory);
  PLAT_ASSERT(parent);
  MuLayout* layout = muLayoutFactory(parent, id, direction);
  parent->addChild(layout);
  return layout;
}

MuLayout::MuLayout(MuContainer* parent, const char* id, uint32_t direction)
    : MuContainer(parent, id), direction_(direction), spacing_(Mui::instance()->metric(Mui::kLayoutSpacing)) {}

MuLayout::~MuLayout() { removeAll(); }

plat::DString MuLayout::describe() {
  plat::DString text = MuContainer::describe();
  text.appendf("element Layout\ntype %s\n", direction_ == kVertical ? "Vertical" : "Horizontal");
  return text;
}

// Measurement along the axis of the layout (heightForWidth of a vertical
// layout): the natural and fixed extents, the spacing, and each weighted
// child given at least its natural extent once the room is shared.
int32_t MuLayout::measureMain(int32_t cross) {
  const bool vertical = direction_ == kVertical;
  int64_t n = 0;
  int64_t natural = 0;
  int64_t weights = 0;
  int64_t q = 0;
  for (Entry& e : children_) {
    MuElement* child = e.element.get();
    if (!child->isVisible()) continue;
    ++n;
    const uint32_t mode = e.mode & kModeMask;
    if (mode == kNatural) {
      natural += vertical ? child->heightForWidth(cross) : child->widthForHeight(cross);
    } else if (mode == kFixed) {
      natural += e.size;
    } else if (e.size > 0) {
      weights += e.size;
      const int32_t m = vertical ? child->heightForWidth(cross) : child->widthForHeight(cross);
      q = std::max<int64_t>(q, m / e.size);
    }
  }
  if (n == 0) return 0;
  return clamp32((n - 1) * spacing_ + weights * q + natural);
}

// Measurement across the axis: the largest cross extent of the children,
// each measured for the main extent it would get from `main`.
int32_t MuLayout::measureCross(int32_t main) {
  const bool vertical = direction_ == kVertical;
  auto crossOf = [vertical](MuElement* child, int32_t extent) {
    return vertical ? child->widthForHeight(extent) : child->heightForWidth(extent);
  };
  int64_t n = 0;
  int64_t weights = 0;
  int64_t used = 0;
  int32_t result = 0;
  for (Entry& e : children_) {
    MuElement* child = e.element.get();
    if (!child->isVisible()) continue;
    ++n;
    const uint32_t mode = e.mode & kModeMask;
    if (mode == kWeighted) {
      if (e.size > 0) weights += e.size;
      continue;
    }
    const int32_t extent = mode == kNatural ? (vertical ? child->heightForWidth(0) : child->widthForHeight(0)) : e.size;
    result = std::max(result, crossOf(child, extent));
    used += extent;
  }
  if (n == 0) return 0;
  const int64_t available = int64_t{main} - used - (n - 1) * spacing_;
  for (Entry& e : children_) {
    MuElement* child = e.element.get();
    if ((e.mode & kModeMask) != kWeighted || e.size <= 0 || !child->isVisible()) continue;
    result = std::max(result, crossOf(child, weightedShare(e.size, available, weights)));
  }
  return result;
}

int32_t MuLayout::widthForHeight(int32_t height) {
  if (direction_ == kHorizontal) return measureMain(height);
  if (direction_ == kVertical) return measureCross(height);
  return 0;
}

int32_t MuLayout::heightForWidth(int32_t width) {
  if (direction_ == kVertical) return measureMain(width);
  if (direction_ == kHorizontal) return measureCross(width);
  return 0;
}

void MuLayout::relayout() {
  if (direction_ != kVertical && direction_ != kHorizontal) return;
  const bool vertical = direction_ == kVertical;
  const Size size = getSize();
  const int32_t mainExtent = vertical ? size.height : size.width;
  const int32_t crossExtent = vertical ? size.width : size.height;

  int64_t n = 0;
  int64_t fixed = 0;
  int64_t weights = 0;
  for (Entry& e : children_) {
    MuElement* child = e.element.get();
    if (!child->isVisible()) continue;
    ++n;
    const uint32_t mode = e.mode & kModeMask;
    if (mode == kNatural) {
      e.size = vertical ? child->heightForWidth(crossExtent) : child->widthForHeight(crossExtent);
      fixed += e.size;
    } else if (mode == kFixed) {
      fixed += e.size;
    } else if (mode == kWeighted && e.size > 0) {
      weights += e.size;
    }
  }
  const int64_t spare = std::max<int64_t>(0, mainExtent - ((n - 1) * spacing_ + fixed));

  int64_t pos = 0;
  for (Entry& e : children_) {
    MuElement* child = e.element.get();
    if (!child->isVisible()) continue;
    const uint32_t mode = e.mode & kModeMask;
    const int32_t main = mode == kWeighted ? weightedShare(e.size, spare, weights) : e.size;
    int32_t cross = crossExtent;
    int32_t offset = 0;
    const uint32_t align = e.mode & kAlignMask;
    if (align != 0) {
      const int32_t m = vertical ? child->widthForHeight(main) : child->heightForWidth(main);
      const int64_t room = int64_t{cross} - m;
      if (room > 0) {
        offset = align == kAlignEnd ? clamp32(room) : align == kAlignCentre ? clamp32(room / 2) : 0;
        cross = m;
      }
    }
    const int32_t at = clamp32(pos);
    if (vertical) {
      child->setPosition({offset, at});
      child->setSize({cross, main});
    } else {
      child->setPosition({at, offset});
      child->setSize({main, cross});
    }
    pos += int64_t{main} + spacing_;
  }
}

void MuLayout::checkLayout(MuLayoutCheckObserver* observer) {
  if (direction_ == kVertical || direction_ == kHorizontal) {
    const bool vertical = direction_ == kVertical;
    const Size size = getSize();
    const int64_t extent = vertical ? size.height : size.width;
    int64_t pos = 0;
    for (Entry& e : children_) {
      MuElement* child = e.element.get();
      if (!child->isVisible()) continue;
      const Size childSize = child->getSize();
      const int64_t end = pos + (vertical ? childSize.height : childSize.width);
      if (end > extent) {
        observer->report(
            child,
            plat::DString("Overflowing %s layout by %d units", vertical ? "V" : "H", clamp32(end - extent)).c_str());
      }
      pos = end + spacing_;
    }
  }
  MuContainer::checkLayout(observer);
}

MuElement* MuLayout::childAt(int32_t index) { return child_list::at(children_, index); }

int32_t MuLayout::childCount() { return static_cast<int32_t>(children_.size()); }

void MuLayout::addChild(MuElement* element) {
  PLAT_ASSERT(element);
  children_.push_back(Entry{std::unique_ptr<MuElement>(element), defaultMode_, 1});
}

void MuLayout::removeChild(MuElement* element) { child_list::destroy(children_, element); }

void MuLayout::removeAll() { child_list::destroyAll(children_); }

void MuLayout::setChildLayout(MuElement* child, uint32_t mode, int32_t size) {
  auto i = child_list::find(children_, child);
  PLAT_ASSERT_TEXT(i != children_.end(), "i != children.end()", "Element '%s' is not a child of '%s'",
                   path(child).c_str(), path(this).c_str());
  i->mode = mode;
  i->size = size;
}

bool MuLayout::childLayout(MuElement* child, uint32_t& mode, int32_t& size) const {
  for (const Entry& e : children_) {
    if (e.element.get() != child) continue;
    mode = e.mode;
    size = e.size;
    return true;
  }
  return false;
}

void MuLayout::moveChild(MuElement* child, int32_t where, MuElement* reference) {
  auto i = child_list::find(children_, child);
  PLAT_ASSERT_TEXT(i != children_.end(), "i != children.end()");
  Entry entry = std::move(*i);
  children_.erase(i);
  auto at = children_.end();
  if (where == kFront) {
    at = children_.begin();
  } else if (where != kEnd) {
    at = child_list::find(children_, reference);
    if (where == kAfter && at != children_.end()) ++at;
  }
  children_.insert(at, std::move(entry));
  childrenReordered();
  relayout();
}

MuSpacer* MuLayout::addSpacer(bool weighted) {
  MuSpacer* spacer = MuSpacer::create(this, 0, 0);
  setChildLayout(spacer, kFixed, Mui::instance()->metric(Mui::kSpacerSize) - spacing_);
  if (weighted) defaultMode_ = kWeighted;
  return spacer;
}

}  // namespace mui
