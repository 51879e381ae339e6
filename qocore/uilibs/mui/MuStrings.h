#pragma once
// The toolkit's own texts (the mui_* keys) and the process-wide registry
// of popup menus, by name, which the popup-menu backend fills and the
// automation server reads.

#include <map>
#include <string>

namespace ui {
class Menu;
}  // namespace ui

namespace mui {

// Adds the mui_* texts to the translations; only the first call of the
// process adds them.
void registerMuiTexts();

// The popup menus by name (not owned).
std::map<std::string, ui::Menu*>& popupMenus();

}  // namespace mui
