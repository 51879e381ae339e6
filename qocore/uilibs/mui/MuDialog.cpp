#include "qocore/uilibs/mui/MuDialog.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/rfb/Keysym.h"
#include "qocore/uilibs/mui/ChildList.h"

namespace mui {

MuDialog* (*muDialogFactory)(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
                             NativeWindow* nativeParent) = nullptr;

namespace {

constexpr uint32_t kReturnKeysym = 0xFF0D;
constexpr uint32_t kEscapeKeysym = 0xFF1B;

int32_t clamp32(int64_t v) noexcept { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

bool isType(MuElement* element, const char* type) { return std::strcmp(element->typeName(), type) == 0; }

class ExceptButtons : public MuDialog::MoveCallback {
 public:
  bool canMove(MuDialog*, MuElement* element, Point) override { return element && !isType(element, "button"); }
};

class ExceptControls : public MuDialog::MoveCallback {
 public:
  bool canMove(MuDialog*, MuElement* element, Point) override {
    return !element || !(isType(element, "button") || isType(element, "list") || isType(element, "check"));
  }
};

}  // namespace

MuDialog::CloseCallback::~CloseCallback() = default;
MuDialog::MoveCallback::~MoveCallback() = default;
MuDialog::KeyCallback::~KeyCallback() = default;
MuDialog::MouseDownCallback::~MouseDownCallback() = default;
MuDialog::KeyMonitorCallback::~KeyMonitorCallback() = default;

MuDialog::MoveCallback* MuDialog::moveCallbackExceptButtons() {
  static ExceptButtons policy;
  return &policy;
}

MuDialog::MoveCallback* MuDialog::moveCallbackExceptControls() {
  static ExceptControls policy;
  return &policy;
}

MuDialog* MuDialog::create(const char* id, const char* title, Size size, uint32_t flags, MuDialog* owner,
                           NativeWindow* nativeParent) {
  PLAT_ASSERT(muDialogFactory);
  return muDialogFactory(id, title, size, flags, owner, nativeParent);
}

MuDialog::MuDialog(const char* id, const char*, Size size, uint32_t flags, MuDialog* owner, NativeWindow* nativeParent)
    : MuContainer(nullptr, id),
      flags_(flags),
      initialHeight_(size.height),
      margin_(Mui::instance()->metric(Mui::kDialogMargin)),
      owner_(owner ? owner->nativeWindow() : nativeParent),
      registration_(this) {
  // Every element inside inherits a record from here.
  font();
}

MuDialog::~MuDialog() {
  buttons_[0] = buttons_[1] = nullptr;
  removeAll();
}

plat::DString MuDialog::describe() {
  plat::DString text = MuContainer::describe();
  auto bit = [this](uint32_t mask) { return (flags_ & mask) ? 1 : 0; };
  text.appendf("element Dialog\nfixedsize %d\ndisableclose %d\nnohide %d\nmodal %d\nabsfixedsize %d\n", bit(kFixedSize),
               bit(kDisableClose), bit(kNoHide), bit(kModalToOwner | kAppModal), bit(kAbsFixedSize));
  return text;
}

MuElement* MuDialog::childAt(int32_t index) { return child_list::at(panels_, index); }

int32_t MuDialog::childCount() { return static_cast<int32_t>(panels_.size()); }

void MuDialog::addChild(MuElement* element) {
  PLAT_ASSERT(element);
  panels_.push_back(Panel{std::unique_ptr<MuElement>(element), kContentPanel});
}

void MuDialog::removeChild(MuElement* element) { child_list::destroy(panels_, element); }

void MuDialog::removeAll() { child_list::destroyAll(panels_); }

void MuDialog::setPanelMode(MuElement* element, int32_t mode) {
  auto i = child_list::find(panels_, element);
  PLAT_ASSERT_TEXT(i != panels_.end(), "i != panels.end()");
  i->mode = mode;
}

void MuDialog::relayout() {
  const Size size = getSize();
  const int32_t w = size.width;
  if (w == 0 || size.height == 0) return;
  auto place = [](MuElement* panel, int32_t x, int64_t y, int32_t width, int32_t height) {
    panel->setPosition({x, clamp32(y)});
    panel->setSize({width, height});
  };
  // Top panels stack downward from the top, bottom panels upward from the
  // bottom, each in panel order.
  int64_t top = 0;
  int64_t bottom = size.height;
  for (size_t i = 0; i < panels_.size(); ++i) {
    MuElement* panel = panels_[i].element.get();
    const int32_t mode = panels_[i].mode;
    if ((mode != kTopPanel && mode != kBottomPanel) || !panel->isVisible()) continue;
    const int32_t ph = panel->heightForWidth(w);
    if (mode == kTopPanel) {
      place(panel, 0, top, w, ph);
      top += ph;
    } else {
      bottom -= ph;
      place(panel, 0, bottom, w, ph);
    }
  }
  // The content panels share the room between, inside the margin; a dialog
  // too small for its margins gives them nothing rather than a negative size.
  const int32_t contentWidth = clamp32(std::max<int64_t>(0, int64_t{w} - 2 * int64_t{margin_}));
  const int32_t contentHeight = clamp32(std::max<int64_t>(0, bottom - top - 2 * int64_t{margin_}));
  for (size_t i = 0; i < panels_.size(); ++i) {
    MuElement* panel = panels_[i].element.get();
    if (panels_[i].mode != kContentPanel || !panel->isVisible()) continue;
    place(panel, margin_, top + margin_, contentWidth, contentHeight);
  }
  notifyObservers(this, kEventDialogLaidOut);
}

void MuDialog::sizeToContent() {
  if ((flags_ & kAbsFixedSize) || !(flags_ & (kFixedSize | kAutoHeight))) return;
  const int32_t w = getSize().width;
  const int32_t contentWidth = clamp32(std::max<int64_t>(0, int64_t{w} - 2 * int64_t{margin_}));
  int64_t height = 0;
  for (size_t i = 0; i < panels_.size(); ++i) {
    MuElement* panel = panels_[i].element.get();
    if (!panel->isVisible()) continue;
    const int32_t mode = panels_[i].mode;
    if (mode == kTopPanel || mode == kBottomPanel) {
      height += panel->heightForWidth(w);
    } else if (flags_ & kAutoHeight) {
      height += int64_t{panel->heightForWidth(contentWidth)} + 2 * int64_t{margin_};
    } else {
      height += initialHeight_;
    }
  }
  setSize({w, clamp32(height)});
}

void MuDialog::layoutNow() {
  relayout();
  sizeToContent();
}

void MuDialog::setPosition(Point point) {
  positionSet_ = true;
  MuContainer::setPosition(point);
}

void MuDialog::setButton(DialogButton index, MuElement* element) {
  if (index == kDefaultButton || index == kCancelButton) buttons_[index] = element;
}

void MuDialog::forgetButton(MuElement* element) noexcept {
  for (MuElement*& b : buttons_) {
    if (b == element) b = nullptr;
  }
}

bool MuDialog::close() {
  if (closeCallback_ && !closeCallback_->queryClose(this)) return false;
  setVisible(false);
  notifyObservers(this, kEventDialogClosed);
  return true;
}

bool MuDialog::classifyKey(uint32_t keysym, bool& isEscape) {
  if (keysym != kReturnKeysym && keysym != kEscapeKeysym) return false;
  isEscape = keysym == kEscapeKeysym;
  return true;
}

bool MuDialog::handleKey(uint32_t keysym) {
  bool isEscape = false;
  if (!classifyKey(rfb::canonicalKeysym(keysym), isEscape)) return false;
  return pressButton(isEscape ? kCancelButton : kDefaultButton);
}

bool MuDialog::pressButton(DialogButton index) {
  if (index != kDefaultButton && index != kCancelButton) return false;
  if (keyCallback_ && keyCallback_->dialogKey(index, this)) return true;
  MuElement* button = buttons_[index];
  // Disabled or locked buttons are not pressed.
  if (!button || button->flags() != 0) return false;
  button->notifyObservers(button, kEventClicked);
  return true;
}

}  // namespace mui
