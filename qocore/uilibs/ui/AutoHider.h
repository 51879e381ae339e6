#pragma once
// ui::AutoHider: slides a widget out of its container over one edge and
// back in, step by step on a timer, and can hide it again after a delay.
// It knows nothing of views: the widget is reached through
// AutoHider::Widget, and the owner hears of the start and the end of each
// movement through AutoHider::Callback.

#include <cstdint>

#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"

namespace ui {

class AutoHider : public plat::Timer::Callback {
 public:
  // Told of every movement: `started` when it begins (false when it
  // ends), `showing` whether the widget is coming in.
  class Callback {
   public:
    virtual ~Callback();
    virtual void autoHiderEvent(bool started, bool showing, AutoHider* hider) = 0;
  };

  struct Extent {
    int width = 0;
    int height = 0;
  };

  // The sliding widget, in its container's coordinates.
  class Widget {
   public:
    virtual ~Widget();
    virtual void setPosition(int x, int y) = 0;
    virtual Extent getSize() = 0;
    virtual Extent getContainerSize() = 0;
    // True when the container's vertical axis runs upwards.
    virtual bool isFlipped() = 0;
  };

  // The edges: 0 and 1 the vertical movements (1 the far one), 2 left,
  // 3 right.
  enum Edge : uint32_t { kEdgeTop = 0, kEdgeBottom = 1, kEdgeLeft = 2, kEdgeRight = 3 };

  // `inset`: the part of the widget that stays inside the container.
  AutoHider(uint32_t edge, uint32_t inset, Callback* callback);
  // Cancels both timers.
  ~AutoHider() override;
  AutoHider(const AutoHider&) = delete;
  AutoHider& operator=(const AutoHider&) = delete;

  // Starts a movement towards shown or hidden over `duration` ms (negative:
  // the default duration; 0: at once).  Nothing while frozen.
  void start(bool show, int duration);
  // Shows at once, then hides with the default duration after the delay.
  void showThenHide(int delayMs);
  // The distance of a whole movement, at least 1.
  int travel();
  // Advances the hidden fraction as a timer step does, without placing;
  // true when the movement has reached its end.
  bool step();
  // Puts the widget where the hidden fraction says.
  void place();

  bool isShowing() const noexcept { return showing_; }
  double hiddenFraction() const noexcept { return hidden_; }
  bool isFrozen() const noexcept { return frozen_; }
  void setFrozen(bool frozen) noexcept { frozen_ = frozen; }
  int defaultDuration() const noexcept { return defaultDuration_; }
  void setDefaultDuration(int ms) noexcept { defaultDuration_ = ms; }
  uint32_t edge() const noexcept { return edge_; }
  // The step timer's interval of the running movement, 0 when none.
  int stepInterval() const noexcept { return stepTimer_.isRunning() ? stepTimer_.interval() : 0; }
  bool hidePending() const noexcept { return delayTimer_.isRunning(); }

  bool timerExpired(plat::Timer* timer) override;

 protected:
  // Set by the derived class before the first movement.
  void setWidget(Widget* widget) noexcept { widget_ = widget; }

 private:
  plat::Timer stepTimer_;
  plat::Timer delayTimer_;
  Widget* widget_ = nullptr;
  Callback* callback_;
  uint32_t edge_;
  uint32_t inset_;
  double hidden_ = 0;
  plat::TimeValue lastStep_ = 0;
  int duration_ = 300;
  int defaultDuration_ = 300;
  bool showing_ = true;
  bool frozen_ = false;
};

}  // namespace ui
