#include "qocore/uilibs/ui/AutoHider.h"

#include <algorithm>

namespace ui {

AutoHider::Callback::~Callback() = default;
AutoHider::Widget::~Widget() = default;

AutoHider::AutoHider(uint32_t edge, uint32_t inset, Callback* callback)
    : stepTimer_(this), delayTimer_(this), callback_(callback), edge_(edge), inset_(inset) {}

AutoHider::~AutoHider() {
  stepTimer_.cancel();
  delayTimer_.cancel();
}

int AutoHider::travel() {
  if (!widget_) return 1;
  Extent size = widget_->getSize();
  int64_t extent = (edge_ == kEdgeLeft || edge_ == kEdgeRight) ? size.width : size.height;
  return static_cast<int>(std::max<int64_t>(extent - static_cast<int64_t>(inset_), 1));
}

void AutoHider::start(bool show, int duration) {
  if (frozen_) return;
  showing_ = show;
  duration_ = duration < 0 ? defaultDuration_ : duration;
  delayTimer_.cancel();
  if (callback_) callback_->autoHiderEvent(true, showing_, this);
  if (duration_ != 0) {
    stepTimer_.start(std::max(duration_ / travel(), 20));
    lastStep_ = plat::getMonotonicTime();
    return;
  }
  stepTimer_.cancel();
  hidden_ = showing_ ? 0.0 : 1.0;
  place();
  if (callback_) callback_->autoHiderEvent(false, showing_, this);
}

void AutoHider::showThenHide(int delayMs) {
  start(true, 0);
  delayTimer_.start(delayMs);
}

bool AutoHider::step() {
  plat::TimeValue now = plat::getMonotonicTime();
  double elapsed = static_cast<double>((now - lastStep_) / plat::kTicksPerMs);
  lastStep_ = now;
  double change = elapsed / std::max(duration_, 1);
  hidden_ = std::clamp(showing_ ? hidden_ - change : hidden_ + change, 0.0, 1.0);
  return showing_ ? hidden_ <= 0.0 : hidden_ >= 1.0;
}

void AutoHider::place() {
  if (!widget_) return;
  int d = static_cast<int>(travel() * hidden_);
  Extent w = widget_->getSize();
  Extent c = widget_->getContainerSize();
  int x, y;
  if (edge_ == kEdgeLeft || edge_ == kEdgeRight) {
    x = edge_ == kEdgeLeft ? -d : (c.width - w.width) + d;
    y = std::max((c.height - w.height) / 2, 0);
  } else {
    x = std::max((c.width - w.width) / 2, 0);
    y = ((edge_ == kEdgeBottom) != widget_->isFlipped()) ? (c.height - w.height) + d : -d;
  }
  widget_->setPosition(x, y);
}

bool AutoHider::timerExpired(plat::Timer* timer) {
  if (timer == &delayTimer_) {
    start(false, -1);
    return false;
  }
  bool done = step();
  place();
  if (!done) return true;
  if (callback_) callback_->autoHiderEvent(false, showing_, this);
  return false;
}

}  // namespace ui
