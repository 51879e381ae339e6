#pragma once
// An in-memory toolkit backend for tests: the toolkit singleton and the
// creator hooks, making elements whose peers keep their state in memory,
// so element trees are built, laid out and driven without a window system.
//
// Peers start visible, as native views do; dialogs start hidden.  A peer
// measures as its natural size unless the test gives it measuring
// functions.  One peer at a time has the focus, as one view of the key
// window does.  A modal dialog's setVisible(true) runs the test's modal
// script (if any) with the dialog and returns, where the real backend would
// run a modal session until the dialog ends.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/MuScroll.h"
#include "qocore/uilibs/mui/MuSplitter.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/mui/Mui.h"

namespace yarl_test {

class MuTestPeer : public mui::MuCommon {
 public:
  explicit MuTestPeer(mui::Size natural = {}, bool visible = true) : natural(natural), visible(visible) {}
  ~MuTestPeer() override {
    if (focused() == this) focused() = nullptr;
  }

  void setVisible(bool v) override { visible = v; }
  bool isVisible() override { return visible; }
  void setEnabled(bool e) override { enabled = e; }
  void setFocus() override { focused() = this; }
  bool hasFocus() override { return focused() == this; }
  void setToolTip(const char* text) override { toolTip = text ? text : ""; }
  void setSize(mui::Size s) override { size = s; }
  mui::Size getSize() override { return size; }
  int32_t widthForHeight(int32_t height) override { return widthFor ? widthFor(height) : natural.width; }
  int32_t heightForWidth(int32_t width) override { return heightFor ? heightFor(width) : natural.height; }
  void setPosition(mui::Point p) override { position = p; }
  mui::Point getPosition() override { return position; }
  void refreshStyle() override { ++styleRefreshes; }
  void scrollRectToVisible(const mui::Rect& r) override { scrolledTo.push_back(r); }
  void invalidateRect(const mui::Rect& r) override { invalidated.push_back(r); }

  // The peer that has the focus, if any.
  static MuTestPeer*& focused() {
    static MuTestPeer* peer = nullptr;
    return peer;
  }

  mui::Size natural;
  // Measures that replace the natural size when set.
  std::function<int32_t(int32_t height)> widthFor;
  std::function<int32_t(int32_t width)> heightFor;
  bool visible;
  bool enabled = true;
  std::string toolTip;
  mui::Size size;
  mui::Point position;
  int styleRefreshes = 0;
  std::vector<mui::Rect> scrolledTo;
  std::vector<mui::Rect> invalidated;
};

class MuTestLayout : public mui::MuLayout {
 public:
  using mui::MuLayout::MuLayout;
  int reorders = 0;
  void childrenReordered() override { ++reorders; }
};

// The controls keep their native state in plain fields.  setValue,
// setSelected and setText send no event, as the native controls do not
// when the program sets them.
class MuTestCheck : public mui::MuCheck {
 public:
  using mui::MuCheck::MuCheck;
  void setValue(bool checked) override { value = checked; }
  bool getValue() override { return value; }
  bool value = false;
};

class MuTestChoice : public mui::MuChoice {
 public:
  using mui::MuChoice::MuChoice;
  void setSelected(int32_t index) override {
    selected = index >= 0 && index < itemCount() ? index : -1;
    text = selected >= 0 ? items[selected] : "";
  }
  int32_t getSelected() override { return selected; }
  void setText(const char* t) override { text = t ? t : ""; }
  const char* getText() override { return text.c_str(); }
  int32_t itemCount() override { return static_cast<int32_t>(items.size()); }
  void insertItem(int32_t index, const char* t) override {
    const bool append = index < 0 || index >= itemCount();
    items.insert(append ? items.end() : items.begin() + index, t ? t : "");
  }
  std::vector<std::string> items;
  int32_t selected = -1;
  std::string text;
};

class MuTestEdit : public mui::MuEdit {
 public:
  using mui::MuEdit::MuEdit;
  void setText(const char* t) override { text = t ? t : ""; }
  const char* getText() override { return text.c_str(); }
  void setPlaceholder(const char* t) override { placeholder = t ? t : ""; }
  void getSelection(int32_t& start, int32_t& length) override {
    start = selectionStart;
    length = selectionLength;
  }
  void setSelection(int32_t start, int32_t length) override {
    selectionStart = start;
    selectionLength = length;
  }
  // What the user types: kept only when the filter accepts it, then
  // reported as a change.
  bool type(const char* t) {
    if (filter() && !filter()->accept(t)) return false;
    text = t;
    notifyObservers(this, mui::kEventChanged);
    return true;
  }
  std::string text;
  std::string placeholder;
  int32_t selectionStart = 0;
  int32_t selectionLength = 0;
};

class MuTestList : public mui::MuList {
 public:
  using mui::MuList::MuList;
  void setSelected(int32_t row) override { selected = row >= 0 && row < rowCount() ? row : -1; }
  int32_t getSelected() override { return selected; }
  int32_t selected = -1;
};

// Writes down the backend hooks the pager calls.
class MuTestPager : public mui::MuPager {
 public:
  using mui::MuPager::MuPager;
  void pageLabelChanged(int32_t index) override { calls.push_back("label " + std::to_string(index)); }
  void showCurrentPage() override { calls.push_back("show " + std::to_string(current())); }
  std::vector<std::string> calls;
};

class MuTestSlider : public mui::MuSlider {
 public:
  using mui::MuSlider::MuSlider;
  void setValue(int32_t v) override { value = v; }
  int32_t getValue() override { return value; }
  void setRange(int32_t lo, int32_t hi) override {
    minimum = lo;
    maximum = hi;
  }
  int32_t getMin() override { return minimum; }
  int32_t getMax() override { return maximum; }
  int32_t value = 0, minimum = 0, maximum = 100;
};

// The text area is the whole element.
class MuTestSuperbox : public mui::MuSuperbox {
 public:
  using mui::MuSuperbox::MuSuperbox;
  const char* getText() override { return text.c_str(); }
  void setText(const char* t) override { text = t ? t : ""; }
  mui::Rect textRect() override { return {0, 0, getSize().width, getSize().height}; }
  std::string text;
};

// Scrollbars 10 wide, a border of 2.
class MuTestScroll : public mui::MuScroll {
 public:
  using mui::MuScroll::MuScroll;
  mui::Size borderSize() override { return {2, 2}; }
  int32_t horizontalScrollbarHeight() override { return 10; }
  int32_t verticalScrollbarWidth() override { return 10; }
};

class MuTestSplitter : public mui::MuSplitter {
 public:
  using mui::MuSplitter::MuSplitter;
  void beginDrag() override { calls.push_back("begin"); }
  void endDrag() override { calls.push_back("end"); }
  void hoverDivider(mui::Point p) override { calls.push_back("hover " + std::to_string(p.x)); }
  std::vector<std::string> calls;
};

// Writes down where it was shown.
class MuTestPopupMenu : public mui::MuPopupMenu {
 public:
  ui::Menu* menu() override { return nullptr; }
  void showAt(mui::Point p) override { shownAt.push_back(p); }
  void showBelow(mui::MuElement* element, int32_t alignment) override {
    showForElement(this, element, alignment, width);
  }
  int32_t width = 50;
  std::vector<mui::Point> shownAt;
};

// The content is a dialog of its own; the hider moves nothing (it has no
// widget) but reports its movements, and attaching is written down.
class MuTestAutoHider : public mui::MuAutoHider {
 public:
  MuTestAutoHider(const char* id, mui::Size size, Listener* listener)
      : mui::MuAutoHider(listener), content(mui::MuDialog::create(id, "", size, 4, nullptr, nullptr)) {}
  mui::MuElement* element() override { return content.get(); }
  void attach(mui::NativeWindow* window) override { attachedTo = window; }
  ui::AutoHider* hider() override { return &movements; }
  std::unique_ptr<mui::MuDialog> content;
  mui::NativeWindow* attachedTo = nullptr;
  ui::AutoHider movements{ui::AutoHider::kEdgeTop, 0, this};
};

class MuTestDialog : public mui::MuDialog {
 public:
  using mui::MuDialog::MuDialog;

  void setVisible(bool visible) override;
  void setTitle(const char* text) override { title = text ? text : ""; }
  // A fixed screen.
  mui::Size screenSize() override { return {1920, 1080}; }
  // A window's position is already absolute.
  mui::Point absolutePosition() override { return getPosition(); }
  void elementFocused(mui::MuElement* element) override { lastFocused = element; }
  void copyToPasteboard(const char* text) override { pasteboard = text ? text : ""; }

  std::string title;
  std::string pasteboard;
  mui::MuElement* lastFocused = nullptr;
};

class MuTestBackend : public mui::Mui {
 public:
  // Installs the backend for the process on the first call and fills its
  // hooks; every call returns it.  It lives until the process ends, as the
  // real one does.
  static MuTestBackend& install() {
    static MuTestBackend* backend = [] {
      auto* b = new MuTestBackend;
      mui::Mui::setInstance(b);
      fillHooks();
      return b;
    }();
    return *backend;
  }

  // Puts the hooks back (after a test emptied one).
  static void fillHooks() {
    mui::muLayoutFactory = [](mui::MuContainer* parent, const char* id, uint32_t direction) -> mui::MuLayout* {
      auto* layout = new MuTestLayout(parent, id, direction);
      layout->setPeer(std::make_unique<MuTestPeer>());
      return layout;
    };
    mui::muDialogFactory = [](const char* id, const char* title, mui::Size size, uint32_t flags, mui::MuDialog* owner,
                              mui::NativeWindow* nativeParent) -> mui::MuDialog* {
      auto* dialog = new MuTestDialog(id, title, size, flags, owner, nativeParent);
      auto peer = std::make_unique<MuTestPeer>(mui::Size{}, false);
      peer->size = size;
      dialog->setPeer(std::move(peer));
      dialog->setTitle(title);
      return dialog;
    };
    mui::muButtonFactory = [](mui::MuContainer* parent, const char* id, const char* label, uint32_t type,
                              uint32_t flags, uint32_t option) {
      return withPeer(new mui::MuButton(parent, id, label, type, flags, option));
    };
    mui::muCheckFactory = [](mui::MuContainer* parent, const char* id, const char* label, uint32_t type,
                             mui::MuCheck* member, const char* imageBase) -> mui::MuCheck* {
      return withPeer(new MuTestCheck(parent, id, label, type, member, imageBase));
    };
    mui::muChoiceFactory = [](mui::MuContainer* parent, const char* id, const char* label,
                              uint32_t flags) -> mui::MuChoice* {
      return withPeer(new MuTestChoice(parent, id, label, flags));
    };
    mui::muEditFactory = [](mui::MuContainer* parent, const char* id, const char* label, uint32_t type,
                            uint32_t option) -> mui::MuEdit* {
      return withPeer(new MuTestEdit(parent, id, label, type, option));
    };
    mui::muFrameFactory = [](mui::MuContainer* parent, const char* id, const char* title, uint32_t type) {
      return withPeer(new mui::MuFrame(parent, id, title, type));
    };
    mui::muImageFactory = [](mui::MuContainer* parent, const char* id, const char* name, mui::Size size) {
      auto* image = withPeer(new mui::MuImage(parent, id, name, size));
      peerOf(image)->natural = size;
      return image;
    };
    mui::muLineFactory = [](mui::MuContainer* parent, const char* id, bool horizontal, uint32_t etched,
                            int32_t thickness) {
      return withPeer(new mui::MuLine(parent, id, horizontal, etched, thickness));
    };
    mui::muListFactory = [](mui::MuContainer* parent, const char* id, uint32_t flags,
                            mui::MuList::Callback* callback) -> mui::MuList* {
      return withPeer(new MuTestList(parent, id, flags, callback));
    };
    mui::muPagerFactory = [](mui::MuContainer* parent, const char* id, uint32_t style) -> mui::MuPager* {
      return withPeer(new MuTestPager(parent, id, style));
    };
    // As the real hook: the text of create is shown as plain text.
    mui::muTextFactory = [](mui::MuContainer* parent, const char* id, const char* text,
                            plat::Markup::LinkCallback* linkCallback, uint32_t selectable) {
      auto* element = withPeer(new mui::MuText(parent, id, text, linkCallback, selectable));
      if (text) element->setPlainText(text);
      return element;
    };
    fillWidgetHooks();
  }

  static void fillWidgetHooks() {
    mui::muSliderFactory = [](mui::MuContainer* parent, const char* id, uint32_t style) -> mui::MuSlider* {
      return withPeer(new MuTestSlider(parent, id, style));
    };
    mui::muStaticFactory = [](mui::MuContainer* parent, const char* id, const char* text, uint32_t type) {
      return withPeer(new mui::MuStatic(parent, id, text, type));
    };
    mui::muSuperboxFactory = [](mui::MuContainer* parent, const char* id, const char* label,
                                mui::MuSuperbox::KeyCallback* callback, int32_t height) -> mui::MuSuperbox* {
      return withPeer(new MuTestSuperbox(parent, id, label, callback, height));
    };
    mui::muScrollFactory = [](mui::MuContainer* parent, const char* id, uint32_t style) -> mui::MuScroll* {
      return withPeer(new MuTestScroll(parent, id, style));
    };
    mui::muSplitterFactory = [](mui::MuContainer* parent, const char* id, uint32_t orientation, uint32_t thin,
                                uint32_t keepSizes) -> mui::MuSplitter* {
      return withPeer(new MuTestSplitter(parent, id, orientation, thin, keepSizes));
    };
    mui::muPopupMenuFactory = [](const char*, ui::Menu::ActionCallback*) -> mui::MuPopupMenu* {
      return new MuTestPopupMenu;
    };
    muimisc::progressBarFactory = [](mui::MuContainer* parent, const char* id) {
      return withPeer(new muimisc::ProgressBar(parent, id));
    };
    mui::muAutoHiderFactory = [](const char* id, mui::Size size, uint32_t,
                                 mui::MuAutoHider::Listener* listener) -> mui::MuAutoHider* {
      return new MuTestAutoHider(id, size, listener);
    };
  }

  // Gives a new element its in-memory peer.
  template <typename T>
  static T* withPeer(T* element, mui::Size natural = {}) {
    element->setPeer(std::make_unique<MuTestPeer>(natural));
    return element;
  }

  // A plain element (no children) with a peer of that natural size, added
  // to the parent.
  static mui::MuElement* element(mui::MuContainer* parent, const char* id, mui::Size natural = {},
                                 const char* label = nullptr) {
    auto* e = new mui::MuElement(parent, id, label);
    e->setPeer(std::make_unique<MuTestPeer>(natural));
    parent->addChild(e);
    return e;
  }

  static MuTestPeer* peerOf(mui::MuElement* element) { return static_cast<MuTestPeer*>(element->peer()); }

  // Run by a modal dialog's setVisible(true).
  std::function<void(MuTestDialog&)> modalScript;
};

inline void MuTestDialog::setVisible(bool visible) {
  mui::MuDialog::setVisible(visible);
  if (!visible || !(dialogFlags() & (kModalToOwner | kAppModal))) return;
  if (MuTestBackend& backend = MuTestBackend::install(); backend.modalScript) backend.modalScript(*this);
}

}  // namespace yarl_test
