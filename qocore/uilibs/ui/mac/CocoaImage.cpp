// The image functions of CocoaUtil.h.

#include "platform/appkit/Constants.h"
#include "platform/appkit/Workspace.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace ui {

void drawImage(appkit::Image* image, appkit::Rect rect, double opacity) {
  if (!image) return;
  image->drawInRect(rect, appkit::Rect{}, appkit::kCompositeSourceOver, opacity, true, nullptr);
}

void drawImageAt(appkit::Image* image, appkit::Point point, double opacity) {
  if (!image) return;
  drawImage(image, appkit::Rect{point, image->size()}, opacity);
}

appkit::Image* fileIcon(const char* path) {
  appkit::Workspace& ws = appkit::Workspace::shared();
  if (appkit::Image* icon = ws.iconForFile(path)) return icon;
  return ws.iconForFileType(appkit::pathExtension(path));
}

}  // namespace ui
