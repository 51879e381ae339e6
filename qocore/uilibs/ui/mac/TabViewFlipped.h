#pragma once
// A tab view whose y axis runs downwards, like the ui layer's other
// flipped views.

#include "platform/appkit/TabView.h"

namespace ui {

class NSTabViewFlipped : public appkit::TabView {
 public:
  using appkit::TabView::TabView;
  bool isFlipped() const override { return true; }

 protected:
  ~NSTabViewFlipped() override = default;
};

}  // namespace ui
