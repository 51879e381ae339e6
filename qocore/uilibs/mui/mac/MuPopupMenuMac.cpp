#include "qocore/uilibs/mui/mac/MuPopupMenuMac.h"

#include <string>

#include "platform/appkit/Screen.h"
#include "qocore/uilibs/mui/MuStrings.h"

namespace mui {

MuPopupMenu* MuPopupMenuMac::create(const char* id, ui::Menu::ActionCallback* actionCallback) {
  return new MuPopupMenuMac(id, actionCallback);
}

MuPopupMenuMac::MuPopupMenuMac(const char* id, ui::Menu::ActionCallback* actionCallback)
    : menu_(actionCallback, false), name_(id ? id : "") {
  popupMenus()[name_.get()] = &menu_;
}

MuPopupMenuMac::~MuPopupMenuMac() {
  // A later menu of the same name may have taken the entry.
  auto i = popupMenus().find(name_.get());
  if (i != popupMenus().end() && i->second == &menu_) popupMenus().erase(i);
}

void MuPopupMenuMac::popUpAtMouse() { menu_.popUpAtMouse(); }

void MuPopupMenuMac::showAt(Point point) {
  appkit::Screen* screen = appkit::Screen::mainScreen();
  const double height = screen ? screen->frame().size.height : 0;
  menu_.popUpAt(point.x, height - point.y);
}

void MuPopupMenuMac::showBelow(MuElement* element, int32_t alignment) {
  showForElement(this, element, alignment, menu_.width());
}

}  // namespace mui
