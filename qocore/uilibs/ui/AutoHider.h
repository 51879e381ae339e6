#pragma once
// ui::AutoHider: a view that slides its content in while the pointer is
// near it and out again after a while.  Only its callback interface is
// declared so far; the view itself belongs to the macOS ui layer.

namespace ui {

class AutoHider {
 public:
  // Told of every change: `started` when a slide begins (false when it
  // ends), `showing` whether the content is coming in.
  class Callback {
   public:
    virtual ~Callback();
    virtual void autoHiderEvent(bool started, bool showing, AutoHider* hider) = 0;
  };

  virtual ~AutoHider();
};

}  // namespace ui
