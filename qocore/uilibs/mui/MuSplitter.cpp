#include "qocore/uilibs/mui/MuSplitter.h"

#include <algorithm>

#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/Adopt.h"
#include "qocore/uilibs/mui/ChildList.h"

namespace mui {

MuSplitter* (*muSplitterFactory)(MuContainer*, const char*, uint32_t, uint32_t, uint32_t) = nullptr;

MuSplitter* MuSplitter::create(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                               uint32_t keepSizes) {
  PLAT_ASSERT(muSplitterFactory);
  return adopt(parent, muSplitterFactory(parent, id, orientation, thin, keepSizes));
}

MuSplitter::MuSplitter(MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin, uint32_t keepSizes)
    : MuContainer(parent, id), orientation_(orientation), thin_(thin), keepSizes_(keepSizes) {}

MuSplitter::~MuSplitter() { child_list::destroyAll(panes_); }

plat::DString MuSplitter::describe() {
  plat::DString text = MuElement::describe();
  text.append("element Splitter\n\n");
  return text;
}

int32_t MuSplitter::measure(MuElement* element) {
  const Size own = getSize();
  return orientation_ ? element->heightForWidth(own.width) : element->widthForHeight(own.height);
}

int32_t MuSplitter::naturalAlong() {
  if (panes_.empty()) return 0;
  int64_t total = int64_t{dividerThickness()} * (static_cast<int64_t>(panes_.size()) - 1);
  for (const Pane& p : panes_) total += keepSizes_ ? p.size : p.minimum;
  return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

int32_t MuSplitter::largestAcross() {
  int32_t largest = 0;
  for (const Pane& p : panes_) {
    largest = std::max(largest, orientation_ ? p.element->widthForHeight(-1) : p.element->heightForWidth(-1));
  }
  return largest;
}

int32_t MuSplitter::widthForHeight(int32_t) { return orientation_ ? largestAcross() : naturalAlong(); }

int32_t MuSplitter::heightForWidth(int32_t) { return orientation_ ? naturalAlong() : largestAcross(); }

MuElement* MuSplitter::childAt(int32_t index) { return child_list::at(panes_, index); }

int32_t MuSplitter::childCount() { return static_cast<int32_t>(panes_.size()); }

void MuSplitter::addChild(MuElement* element) {
  PLAT_ASSERT(element);
  panes_.push_back(Pane{30, 30, std::unique_ptr<MuElement>(element)});
  const int32_t m = measure(element);
  panes_.back().minimum = m;
  panes_.back().size = m < 0 ? -1 : m;
  notifyObservers(this, kEventChanged);
  relayout();
}

void MuSplitter::removeChild(MuElement* element) {
  if (child_list::find(panes_, element) == panes_.end()) return;
  child_list::destroy(panes_, element);
  notifyObservers(this, kEventChanged);
  relayout();
}

void MuSplitter::childChanged() {
  for (size_t i = 0; i < panes_.size(); ++i) {
    const int32_t m = measure(panes_[i].element.get());
    panes_[i].minimum = m;
    panes_[i].size = std::max(m, panes_[i].size);
    notifyObservers(this, kEventChanged);
    relayout();
  }
  relayout();
  if (MuContainer* p = parent()) p->childChanged();
}

void MuSplitter::relayout() {
  const Size own = getSize();
  const int32_t extent = along(own);
  const bool shown = isShown();
  const int32_t thickness = dividerThickness();
  int64_t needed = 0;
  int32_t last = -1;
  int32_t visibleCount = 0;
  for (size_t i = 0; i < panes_.size(); ++i) {
    if (!panes_[i].element->isVisible()) continue;
    last = static_cast<int32_t>(i);
    ++visibleCount;
    needed += int64_t{thickness} + panes_[i].minimum;
  }
  const bool cut = shown && !keepSizes_ && needed <= extent;
  int64_t pos = 0;
  for (size_t i = 0; i < panes_.size(); ++i) {
    Pane& pane = panes_[i];
    if (!pane.element->isVisible()) continue;
    int64_t size = static_cast<int32_t>(i) == last ? extent - pos : pane.size;
    if (cut) {
      const int64_t room = extent - (pos + spaceAfter(static_cast<int32_t>(i)));
      if (room < size) {
        size = std::max<int64_t>(room, pane.minimum);
        pane.size = static_cast<int32_t>(size);
        notifyObservers(this, kEventChanged);
      }
    }
    const int32_t s = rfb::clampTo32(size);
    const int32_t p = rfb::clampTo32(pos);
    pane.element->setSize(orientation_ ? Size{own.width, s} : Size{s, own.height});
    pane.element->setPosition(orientation_ ? Point{0, p} : Point{p, 0});
    pos += size + thickness;
  }
}

void MuSplitter::removeAll() { child_list::destroyAll(panes_); }

void MuSplitter::setPaneVisible(bool visible, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= panes_.size()) return;
  panes_[index].element->setVisible(visible);
  relayout();
}

void MuSplitter::setPaneLimits(int32_t index, int32_t minimum, int32_t size) {
  if (index < 0 || static_cast<size_t>(index) >= panes_.size()) return;
  panes_[index].minimum = minimum;
  panes_[index].size = std::max(minimum, size);
  notifyObservers(this, kEventChanged);
  relayout();
}

void MuSplitter::setPaneSize(int32_t size, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= panes_.size()) return;
  panes_[index].size = std::max(panes_[index].minimum, size);
  relayout();
  notifyObservers(this, kEventChanged);
}

int32_t MuSplitter::getDividerPosition(int32_t index) {
  PLAT_ASSERT(index >= 0);
  PLAT_ASSERT_TEXT(index < static_cast<int>(panes_.size()) - 1, "index < (int)children.size() - 1");
  MuElement* e = panes_[index].element.get();
  return along(e->getPosition()) + (e->isVisible() ? along(e->getSize()) : 0);
}

int32_t MuSplitter::dividerThicknessAt(int32_t index) {
  PLAT_ASSERT(index >= 0);
  PLAT_ASSERT_TEXT(index < static_cast<int>(panes_.size()) - 1, "index < (int)children.size() - 1");
  return panes_[index].element->isVisible() ? dividerThickness() : 0;
}

std::vector<int32_t> MuSplitter::dividerPositions() {
  std::vector<int32_t> positions;
  int64_t sum = 0;
  for (size_t i = 0; i + 1 < panes_.size(); ++i) {
    if (panes_[i].element->isVisible()) sum += int64_t{panes_[i].size};
    positions.push_back(rfb::clampTo32(sum));
    sum += dividerThicknessAt(static_cast<int32_t>(i));
  }
  return positions;
}

std::vector<int32_t> MuSplitter::paneSizes() {
  std::vector<int32_t> sizes;
  for (const Pane& p : panes_) sizes.push_back(p.element->isVisible() ? p.size : 0);
  return sizes;
}

int32_t MuSplitter::spaceAfter(int32_t index) {
  int64_t space = 0;
  for (size_t i = static_cast<size_t>(std::max(index + 1, 0)); i < panes_.size(); ++i) {
    if (panes_[i].element->isVisible()) space += int64_t{dividerThickness()} + panes_[i].minimum;
  }
  return rfb::clampTo32(space);
}

int32_t MuSplitter::previousVisibleChild(int32_t index) {
  for (int32_t i = std::min<int32_t>(index, static_cast<int32_t>(panes_.size())) - 1; i >= 0; --i) {
    if (panes_[i].element->isVisible()) return i;
  }
  return -1;
}

int32_t MuSplitter::hoveredDivider(int32_t coordinate) {
  for (size_t i = 0; i + 1 < panes_.size(); ++i) {
    MuElement* a = panes_[i].element.get();
    MuElement* b = panes_[i + 1].element.get();
    const int64_t end = int64_t{along(a->getPosition())} + along(a->getSize());
    if (end <= coordinate && coordinate < along(b->getPosition())) return static_cast<int32_t>(i);
  }
  return -1;
}

bool MuSplitter::fireMouse(int32_t kind, Point point, ui::MouseHandlerMac*) {
  const int32_t coordinate = along(point);
  if (!dragging_ && kind != kMouseExited) dragIndex_ = hoveredDivider(coordinate);
  switch (kind) {
    case kMousePressed:
      if (dragIndex_ < 0 || dragging_) return false;
      dragging_ = true;
      dragStart_ = coordinate;
      dragStartSize_ = panes_[dragIndex_].size;
      beginDrag();
      return true;
    case kMouseMoved: {
      if (dragIndex_ < 0) return false;
      if (!dragging_) {
        hoverDivider(point);
        return true;
      }
      Pane& pane = panes_[dragIndex_];
      const int64_t wanted = int64_t{coordinate} - dragStart_ + dragStartSize_;
      if (wanted == pane.size) return false;
      pane.size = rfb::clampTo32(std::max<int64_t>(pane.minimum, wanted));
      relayout();
      notifyObservers(this, kEventChanged);
      const Size own = getSize();
      invalidateRect(Rect(0, 0, own.width, own.height));
      return true;
    }
    case kMouseReleased:
      if (!dragging_) return false;
      endDrag();
      dragIndex_ = -1;
      dragging_ = false;
      return true;
    default:
      return false;
  }
}

}  // namespace mui
