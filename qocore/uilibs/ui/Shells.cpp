#include "qocore/uilibs/ui/AutoHider.h"
#include "qocore/uilibs/ui/Menu.h"

namespace ui {

AutoHider::Callback::~Callback() = default;
AutoHider::~AutoHider() = default;
Menu::ActionCallback::~ActionCallback() = default;
Menu::~Menu() = default;

}  // namespace ui
