#pragma once
// mui::MuPopupMenuMac: a context menu that pops up at the pointer, at a
// point of the main display or under an element.  Every popup menu is
// entered under its name among the toolkit's popup menus while it lives,
// so the automation interface can find it.
//
// Main thread only.

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/mui/MuWidgets.h"
#include "qocore/uilibs/ui/mac/MenuMac.h"

namespace mui {

class MuPopupMenuMac : public MuPopupMenu {
 public:
  // The creator hook's signature.
  static MuPopupMenu* create(const char* id, ui::Menu::ActionCallback* actionCallback);

  MuPopupMenuMac(const char* id, ui::Menu::ActionCallback* actionCallback);
  ~MuPopupMenuMac() override;
  MuPopupMenuMac(const MuPopupMenuMac&) = delete;
  MuPopupMenuMac& operator=(const MuPopupMenuMac&) = delete;

  ui::Menu* menu() override { return &menu_; }
  void popUpAtMouse();
  // A point of the main display, y downwards.
  void showAt(Point point) override;
  void showBelow(MuElement* element, int32_t alignment) override;

  ui::MenuMac& menuMac() noexcept { return menu_; }

 private:
  ui::MenuMac menu_;
  plat::CharArray name_;
};

}  // namespace mui
