#pragma once
// mui::MuAutoHider: the platform-neutral side of an element that slides in
// with the pointer and hides itself again.  The backend's auto-hiding view
// reports through ui::AutoHider::Callback; the auto-hider passes every
// change on to its listener.

#include <cstdint>

#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/ui/AutoHider.h"

namespace mui {

class NativeWindow;

class MuAutoHider : public ui::AutoHider::Callback {
 public:
  class Listener {
   public:
    virtual ~Listener();
    // `animated` while a slide begins.
    virtual void visibilityChanged(bool shown, bool animated) = 0;
  };

  // Made through the backend's muAutoHiderFactory and added to no parent:
  // the content is a dialog of its own of that id and size, placed at the
  // edge of a window by `placement` (the backend's).
  static MuAutoHider* create(const char* id, Size size, uint32_t placement, Listener* listener);

  explicit MuAutoHider(Listener* listener) : listener_(listener) {}

  // To the listener as (shown = showing, animated = started).
  void autoHiderEvent(bool started, bool showing, ui::AutoHider* hider) override;

  // The element whose visibility is managed.
  virtual MuElement* element() = 0;
  // Floats the content over the window's content area; null takes it out
  // of any window.
  virtual void attach(NativeWindow* window) = 0;
  // What moves the content in and out (ui::AutoHider::start,
  // showThenHide).
  virtual ui::AutoHider* hider() = 0;
  virtual void setBackgroundColour(const char* name) { element()->setBackgroundColour(name); }
  virtual void addObserver(MuObserver* observer, bool add) { element()->addObserver(observer, add); }
  virtual void layoutNow() { element()->layoutNow(); }

  Listener* listener() const noexcept { return listener_; }
  void setListener(Listener* listener) noexcept { listener_ = listener; }

 private:
  Listener* listener_;
};

// The backend's creator of auto-hiders; null until the backend fills it.
extern MuAutoHider* (*muAutoHiderFactory)(const char* id, Size size, uint32_t placement,
                                          MuAutoHider::Listener* listener);

}  // namespace mui
