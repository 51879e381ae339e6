#include "qocore/uilibs/ui/Menu.h"

namespace ui {

Menu::ActionCallback::~ActionCallback() = default;
Menu::~Menu() = default;

}  // namespace ui
