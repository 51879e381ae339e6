#include "qocore/uilibs/mui/MuElement.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/uilibs/mui/MuDialog.h"

namespace mui {

namespace {

// Replaces an owned name when the new one differs; null is a value too.
void replaceName(plat::CharArray& field, const char* name) {
  if (plat::strCompare(field.get(), name) != 0) field = name;
}

// needed - have, kept inside 32 bits.
int32_t excess(int32_t needed, int32_t have) {
  const int64_t d = int64_t{needed} - have;
  return d > INT32_MAX ? INT32_MAX : static_cast<int32_t>(d);
}

}  // namespace

// ---- MuObserver ----

void MuObserver::notify(MuElement* element, MuEvent event) {
  switch (event) {
    case kEventClicked:
      onClicked(element);
      break;
    case kEventChanged:
      onChanged(element);
      break;
    case kEventDialogClosed:
      onDialogClosed(dynamic_cast<MuDialog*>(MuElement::getRoot(element)));
      break;
    case kEventDialogLaidOut:
      onDialogLaidOut(dynamic_cast<MuDialog*>(MuElement::getRoot(element)));
      break;
    default:
      break;
  }
}

MuObserver::~MuObserver() = default;

MuLayoutCheckObserver::~MuLayoutCheckObserver() = default;

MuCommon::~MuCommon() = default;

// ---- MuFont ----

MuFont& MuFont::operator=(const MuFont& other) {
  if (this == &other) return *this;
  style = other.style;
  size = other.size;
  weight = other.weight;
  replaceName(colour, other.colour.get());
  replaceName(background, other.background.get());
  return *this;
}

// ---- MuElement ----

MuElement::MuElement(MuContainer* parent, const char* id, const char* label)
    : label_(label), id_(id), parent_(parent) {}

MuElement::~MuElement() {
  observers_.clear();
  // The notifications running on this element stop at their next step.
  for (Dispatch* d = dispatches_; d; d = d->previous) {
    d->destroyed = true;
    d->snapshot.clear();
  }
  dispatches_ = nullptr;
  // A dialog keeps its default and cancel buttons by plain pointer; one
  // that goes away must not be pressed later.
  if (parent_) {
    if (MuDialog* dialog = dynamic_cast<MuDialog*>(getRoot(this))) dialog->forgetButton(this);
  }
  peer_.reset();
  font_.reset();
}

void MuElement::setVisible(bool visible) {
  if (peer_) peer_->setVisible(visible);
}

bool MuElement::isVisible() { return peer_ && peer_->isVisible(); }

bool MuElement::isLocked() { return (flags_ & kFlagLocked) != 0; }

void MuElement::setFocus() {
  if (peer_) peer_->setFocus();
  if (MuDialog* dialog = dynamic_cast<MuDialog*>(getRoot(this))) dialog->elementFocused(this);
}

bool MuElement::hasFocus() { return peer_ && peer_->hasFocus(); }

MuElement* MuElement::focusedElement() { return hasFocus() ? this : nullptr; }

void MuElement::setToolTip(const char* text) {
  if (peer_) peer_->setToolTip(text);
}

void MuElement::setSize(Size size) {
  if (peer_) peer_->setSize(size);
}

Size MuElement::getSize() { return peer_ ? peer_->getSize() : Size{}; }

void MuElement::setPosition(Point point) {
  if (peer_) peer_->setPosition(point);
}

Point MuElement::getPosition() { return peer_ ? peer_->getPosition() : Point{}; }

Point MuElement::absolutePosition() {
  MuContainer* parent = parent_;
  PLAT_ASSERT(parent);
  const Point base = parent->absolutePosition();
  const Point own = getPosition();
  return {base.x + own.x, base.y + own.y};
}

int32_t MuElement::widthForHeight(int32_t height) { return peer_ ? peer_->widthForHeight(height) : 0; }

int32_t MuElement::heightForWidth(int32_t width) { return peer_ ? peer_->heightForWidth(width) : 0; }

void MuElement::setFont(const MuFont& record) {
  font() = record;
  refreshStyle();
}

void MuElement::refreshStyle() {
  if (peer_) peer_->refreshStyle();
}

void MuElement::scrollToVisible(const Rect& rect) {
  if (peer_) peer_->scrollRectToVisible(rect);
}

void MuElement::invalidateRect(const Rect& rect) {
  if (peer_) peer_->invalidateRect(rect);
}

void MuElement::setLabelWidth(int32_t, int32_t) {}

int32_t MuElement::labelWidth() { return widthForHeight(1); }

const char* MuElement::typeName() { return "element"; }

plat::DString MuElement::describe() {
  const Point pos = getPosition();
  const Size size = getSize();
  plat::DString text;
  text.appendf("shown %d\nenabled %d\nlocked %d\npos %d,%d\nsize %d,%d\n", isShown() ? 1 : 0,
               (flags_ & kFlagDisabled) ? 0 : 1, (flags_ & kFlagLocked) ? 1 : 0, pos.x, pos.y, size.width, size.height);
  if (label_) text.appendf("label %s\n", label_.get());
  return text;
}

plat::DString MuElement::listItems() { return {}; }

MuElement* MuElement::findElement(const char* path) { return path ? nullptr : this; }

void MuElement::layoutNow() {}

bool MuElement::performAction(const char*, const char*) { return false; }

bool MuElement::handleDialogKey(DialogButton, bool) { return false; }

bool MuElement::fireMouse(int32_t kind, Point point, ui::MouseHandlerMac* handler) {
  return mouseCallback_ && mouseCallback_->mouseEvent(kind, point, handler);
}

bool MuElement::mouseEvent(int32_t kind, Point point, ui::MouseHandlerMac* handler) {
  return fireMouse(kind, point, handler);
}

void MuElement::checkLayout(MuLayoutCheckObserver* observer) {
  const Size size = getSize();
  const int32_t needed = heightForWidth(size.width);
  if (needed > size.height) {
    observer->report(this, plat::DString("Overflowing by %d units", excess(needed, size.height)).c_str());
  }
}

void MuElement::addObserver(MuObserver* observer, bool add) {
  if (add) {
    observers_.push_back(observer);
  } else {
    addObserverNoexcept(observer);
  }
}

void MuElement::addObserverNoexcept(MuObserver* observer) noexcept {
  std::erase(observers_, observer);
  for (Dispatch* d = dispatches_; d; d = d->previous) {
    for (size_t i = d->snapshot.size(); i-- > 0;) {
      if (d->snapshot[i] != observer) continue;
      d->snapshot.erase(d->snapshot.begin() + static_cast<ptrdiff_t>(i));
      if (i < d->next) --d->next;
    }
  }
}

bool MuElement::dispatch(MuElement* element, MuEvent event) {
  Dispatch record;
  record.snapshot = observers_;
  record.previous = dispatches_;
  dispatches_ = &record;
  // Also when an observer throws; a destroyed element is not touched.
  plat::ScopeExit pop([this, &record] {
    if (!record.destroyed) dispatches_ = record.previous;
  });
  while (record.next < record.snapshot.size()) {
    MuObserver* observer = record.snapshot[record.next++];
    observer->notify(element, event);
    if (record.destroyed) return false;
  }
  return true;
}

void MuElement::notifyObservers(MuElement* element, MuEvent event) {
  for (MuElement* e = this; e; e = e->parent_) {
    if (!e->dispatch(element, event)) return;
  }
}

void MuElement::setFlag(uint32_t bit, bool on) {
  flags_ = on ? (flags_ | bit) : (flags_ & ~bit);
  if (peer_) peer_->setEnabled(flags_ == 0);
  enabledChanged();
}

void MuElement::setEnabled(bool enabled) { setFlag(kFlagDisabled, !enabled); }

void MuElement::setLocked(bool locked) { setFlag(kFlagLocked, locked); }

bool MuElement::isShown() {
  for (MuElement* e = this; e; e = e->parent_) {
    if (!e->isVisible()) return false;
  }
  return true;
}

MuFont& MuElement::font() {
  if (!font_) font_ = std::make_unique<MuFont>();
  return *font_;
}

const MuFont& MuElement::getFont() const {
  const MuElement* e = this;
  while (!e->font_) {
    const MuElement* parent = e->parent_;
    PLAT_ASSERT(parent);
    e = parent;
  }
  return *e->font_;
}

void MuElement::setBackgroundColour(const char* name) {
  replaceName(font().background, name);
  refreshStyle();
}

void MuElement::setColour(const char* name) {
  replaceName(font().colour, name);
  refreshStyle();
}

void MuElement::setFontSize(int32_t size) {
  font().size = size;
  refreshStyle();
}

MuElement* MuElement::getRoot(MuElement* element) {
  PLAT_ASSERT(element);
  while (element->parent_) element = element->parent_;
  return element;
}

plat::CharArray MuElement::path(MuElement* element) {
  // The named elements below the top-level one, innermost first.
  std::vector<const char*> ids;
  for (MuElement* e = element; e && e->parent_; e = e->parent_) {
    if (e->id_) ids.push_back(e->id_.get());
  }
  plat::DString text;
  for (size_t i = ids.size(); i-- > 0;) {
    if (!text.empty()) text.append(".");
    text.append(ids[i]);
  }
  return text.release();
}

plat::CharArray MuElement::fullPath(MuElement* element) {
  plat::CharArray p = path(element);
  if (!p || !*p.get()) return plat::CharArray(element->id());
  return plat::DString::format("%s.%s", getRoot(element)->id_.c_str(), p.get());
}

// ---- MuContainer ----

MuContainer::MuContainer(MuContainer* parent, const char* id) : MuElement(parent, id, nullptr) {}

bool MuContainer::isLocked() {
  if (flags() & kFlagLocked) return true;
  const int32_t n = childCount();
  for (int32_t i = 0; i < n; ++i) {
    MuElement* child = childAt(i);
    if (child && child->isVisible() && child->isLocked()) return true;
  }
  return false;
}

MuElement* MuContainer::focusedElement() {
  const int32_t n = childCount();
  for (int32_t i = 0; i < n; ++i) {
    MuElement* child = childAt(i);
    if (MuElement* focused = child ? child->focusedElement() : nullptr) return focused;
  }
  return nullptr;
}

void MuContainer::setSize(Size size) {
  MuElement::setSize(size);
  relayout();
}

void MuContainer::refreshStyle() {
  const int32_t n = childCount();
  for (int32_t i = 0; i < n; ++i) {
    if (MuElement* child = childAt(i)) child->refreshStyle();
  }
  MuElement::refreshStyle();
}

const char* MuContainer::typeName() { return "container"; }

MuElement* MuContainer::findElement(const char* path) {
  if (!path) return this;
  while (*path == '.') ++path;
  const char* dot = std::strchr(path, '.');
  const size_t firstLen = dot ? static_cast<size_t>(dot - path) : std::strlen(path);
  const char* rest = dot ? dot + 1 : nullptr;
  const int32_t n = childCount();
  for (int32_t i = 0; i < n; ++i) {
    MuElement* child = childAt(i);
    if (!child) continue;
    MuElement* found = nullptr;
    const char* id = child->id();
    if (!id) {
      // Unnamed containers are transparent.
      found = child->findElement(path);
    } else if (std::strlen(id) == firstLen && std::memcmp(id, path, firstLen) == 0) {
      found = child->findElement(rest);
    }
    if (found) return found;
  }
  return nullptr;
}

void MuContainer::layoutNow() { relayout(); }

void MuContainer::checkLayout(MuLayoutCheckObserver* observer) {
  const int32_t n = childCount();
  for (int32_t i = 0; i < n; ++i) {
    MuElement* child = childAt(i);
    if (child && child->isVisible()) child->checkLayout(observer);
  }
}

void MuContainer::childChanged() {
  relayout();
  if (MuContainer* p = parent()) p->childChanged();
}

Point MuContainer::childOrigin() { return {}; }

void MuContainer::remove(MuElement* element) {
  PLAT_ASSERT(element);
  removeChild(element);
}

// ---- MuContainerSingle ----

MuContainerSingle::~MuContainerSingle() { removeAll(); }

MuElement* MuContainerSingle::childAt(int32_t index) { return index == 0 || index == -1 ? child_.get() : nullptr; }

int32_t MuContainerSingle::childCount() { return child_ ? 1 : 0; }

void MuContainerSingle::addChild(MuElement* element) {
  // The slot is filled before the previous child goes, so its destructor
  // sees the container in its final state.
  std::unique_ptr<MuElement> previous = std::move(child_);
  child_.reset(element);
}

void MuContainerSingle::removeChild(MuElement* element) {
  PLAT_ASSERT_TEXT(element == child_.get(), "element == child.get()");
  std::unique_ptr<MuElement> gone = std::move(child_);
}

void MuContainerSingle::removeAll() { std::unique_ptr<MuElement> gone = std::move(child_); }

}  // namespace mui
