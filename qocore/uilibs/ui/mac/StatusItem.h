#pragma once
// The status item at the right of the menu bar and the Dock tile's badge.

#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/StatusBar.h"

namespace ui {

// A square status item on the system status bar showing the menu when
// clicked; the caller holds one reference until removeStatusItem.
appkit::StatusItem* makeStatusItem(appkit::Menu* menu);
void setStatusItemImage(appkit::StatusItem* item, appkit::Image* image);
// Takes the item off the bar and drops the caller's reference.
void removeStatusItem(appkit::StatusItem* item);
// The Dock tile's badge text; null or "" clears it.
void setDockBadge(const char* text);

}  // namespace ui
