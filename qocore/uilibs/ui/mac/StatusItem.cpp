#include "qocore/uilibs/ui/mac/StatusItem.h"

#include "platform/appkit/Application.h"
#include "platform/objc/Ref.h"

namespace ui {

appkit::StatusItem* makeStatusItem(appkit::Menu* menu) {
  objc::Ref<appkit::StatusItem> item =
      appkit::StatusBar::systemStatusBar().statusItemWithLength(appkit::kSquareStatusItemLength);
  item->setMenu(menu);
  // The caller's reference, which removeStatusItem takes back.
  return item.leak();
}

void setStatusItemImage(appkit::StatusItem* item, appkit::Image* image) {
  if (item) item->setImage(image);
}

void removeStatusItem(appkit::StatusItem* item) {
  if (!item) return;
  const objc::Ref<appkit::StatusItem> held = objc::adopt(item);
  appkit::StatusBar::systemStatusBar().removeStatusItem(item);
}

void setDockBadge(const char* text) { appkit::Application::shared().dockTile()->setBadgeLabel(text); }

}  // namespace ui
