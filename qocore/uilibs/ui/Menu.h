#pragma once
// ui::Menu: a native menu.  Only its action callback is declared so far;
// the menu itself belongs to the macOS ui layer.

#include <cstdint>

namespace ui {

class Menu {
 public:
  // Told the id of a chosen item.
  class ActionCallback {
   public:
    virtual ~ActionCallback();
    virtual void menuAction(int32_t itemId) = 0;
  };

  virtual ~Menu();
};

}  // namespace ui
