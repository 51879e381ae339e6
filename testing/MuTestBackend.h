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

#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/mui/MuLayout.h"
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

  std::string title;
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
