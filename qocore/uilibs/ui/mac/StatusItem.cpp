#include "qocore/uilibs/ui/mac/StatusItem.h"

#include "platform/appkit/Application.h"

namespace ui {

appkit::StatusItem* makeStatusItem(appkit::Menu* menu) {
  appkit::StatusItem* item = appkit::StatusBar::systemStatusBar().statusItemWithLength(appkit::kSquareStatusItemLength);
  item->retain();
  item->setMenu(menu);
  return item;
}

void setStatusItemImage(appkit::StatusItem* item, appkit::Image* image) {
  if (item) item->setImage(image);
}

void removeStatusItem(appkit::StatusItem* item) {
  if (!item) return;
  appkit::StatusBar::systemStatusBar().removeStatusItem(item);
  item->release();
}

void setDockBadge(const char* text) { appkit::Application::shared().dockTile()->setBadgeLabel(text); }

}  // namespace ui
