#include "qocore/uilibs/ui/mac/DragDropMac.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/appkit/Constants.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace ui {

namespace {

bool carries(appkit::Pasteboard* pasteboard, const std::string& type) {
  if (!pasteboard) return false;
  std::vector<std::string> types = pasteboard->types();
  return std::find(types.begin(), types.end(), type) != types.end();
}

}  // namespace

std::string pasteboardTypeFor(const char* typeName) {
  std::string type = "com.";
  type += os::getCompany(true);
  type += '.';
  type += os::getAppName(true);
  type += '.';
  type += typeName ? typeName : "";
  return type;
}

DragDropDataMac::DragDropDataMac(const char* typeName)
    : typeName_(typeName ? typeName : ""),
      pasteboardType_(pasteboardTypeFor(typeName)),
      item_(objc::adopt(new appkit::PasteboardItem)) {}

DragDropDataMac::DragDropDataMac(const char* typeName, appkit::DraggingSession* info)
    : typeName_(typeName ? typeName : ""),
      pasteboardType_(pasteboardTypeFor(typeName)),
      pasteboard_(info ? info->draggingPasteboard() : nullptr) {}

DragDropDataMac::~DragDropDataMac() = default;

void DragDropDataMac::getData(plat::MBuf<unsigned char>& buffer) {
  if (!carries(pasteboard_, pasteboardType_)) return;
  const std::vector<uint8_t>* data = pasteboard_->dataForType(pasteboardType_.c_str());
  // A buffer counts its bytes in an int: larger data does not fit.
  if (!data || data->size() > static_cast<size_t>(INT_MAX)) return;
  plat::MBuf<unsigned char> fresh(data->data(), static_cast<int>(data->size()), buffer.secure());
  // The old block goes with `fresh`, zeroed first when the buffer is secure.
  buffer.swap(fresh);
}

void DragDropDataMac::setData(int32_t length, const unsigned char* bytes) {
  if (!item_ || length < 0 || (!bytes && length > 0)) return;
  item_->setData(bytes, static_cast<size_t>(length), pasteboardType_.c_str());
}

bool DragDropDataMac::hasData() { return carries(pasteboard_, pasteboardType_); }

DragDropMac::Callback::~Callback() = default;
DragDropMac::ImageProvider::~ImageProvider() = default;

DragDropMac::DragDropMac(Callback* callback, ImageProvider* imageProvider, appkit::View* view)
    : callback_(callback), imageProvider_(imageProvider), view_(view) {
  PLAT_ASSERT_MSG(dynamic_cast<appkit::DraggingSource*>(view) != nullptr, "%s",
                  "[view conformsToProtocol:@protocol(NSDraggingSource)]");
}

DragDropMac::~DragDropMac() = default;

void DragDropMac::setTypes(const char* dragType, const std::vector<const char*>& acceptedTypes) {
  const char* type = dragType ? dragType : "";
  if (dragType_ != type) dragType_ = type;
  acceptedTypes_.clear();
  std::vector<std::string> pasteboardTypes;
  for (const char* name : acceptedTypes) {
    acceptedTypes_.emplace_back(name ? name : "");
    pasteboardTypes.push_back(pasteboardTypeFor(name));
  }
  if (auto* destination = dynamic_cast<appkit::DraggingDestination*>(view_))
    destination->registerForDraggedTypes(std::move(pasteboardTypes));
}

void DragDropMac::mousePressed(rfb::Point point) {
  armed_ = callback_->canStartDrag(point, &dragId_);
  if (armed_) {
    detector_ = qoutil::DragDetector(point);
    press_ = point;
    dragStarted_ = false;
  }
}

void DragDropMac::mouseDragged(appkit::Event* event, rfb::Point point) {
  if (!armed_ || !event || event->type() != appkit::kEventLeftMouseDragged) return;
  if (dragStarted_ || !detector_.dragStarted(point)) return;
  dragStarted_ = true;
  rfb::Point press = press_;
  auto* outgoing = new DragDropDataMac(dragType_.c_str());
  item_.reset(outgoing);
  if (!callback_->fillDragData(outgoing, press)) return;

  objc::Ref<appkit::DraggingItem> draggingItem = objc::adopt(new appkit::DraggingItem(outgoing->pasteboardItem()));
  if (imageProvider_) {
    appkit::Image* image = nullptr;
    rfb::Point offset;
    imageProvider_->getDragImage(dragId_, &image, &offset, press);
    if (image) {
      dragImage_ = image;
      appkit::Size size = image->size();
      appkit::Point at = view_->convertPointFromView(event->locationInWindow(), nullptr);
      draggingItem->setDraggingFrame(appkit::Rect{at, size});
      appkit::DraggingImageComponent* component = appkit::DraggingImageComponent::withKey("dragImg");
      component->setContents(image);
      component->setFrame(appkit::makeRect(-offset.x, offset.y, size.width, size.height));
      // The provider holds the component for the item's life.
      objc::Ref<appkit::DraggingImageComponent> held(component);
      draggingItem->setImageComponentsProvider(
          [held]() { return std::vector<appkit::DraggingImageComponent*>{held.get()}; });
    }
  }
  appkit::DraggingSession::begin(view_, {draggingItem.get()}, event, dynamic_cast<appkit::DraggingSource*>(view_));
}

bool DragDropMac::takeIncoming(appkit::DraggingSession* info) {
  appkit::Pasteboard* pasteboard = info ? info->draggingPasteboard() : nullptr;
  for (const std::string& name : acceptedTypes_) {
    if (!carries(pasteboard, pasteboardTypeFor(name.c_str()))) continue;
    item_ = std::make_unique<DragDropDataMac>(name.c_str(), info);
    return true;
  }
  return false;
}

rfb::Point DragDropMac::pointInView(appkit::DraggingSession* info) const {
  return viewPointFromBase(view_, info->draggingLocation());
}

unsigned long DragDropMac::draggingEntered(appkit::DraggingSession* info) {
  accepting_ = takeIncoming(info) && callback_->acceptDrag(item_.get());
  return appkit::kDragOperationNone;
}

unsigned long DragDropMac::draggingUpdated(appkit::DraggingSession* info) {
  if (!accepting_) return appkit::kDragOperationNone;
  return callback_->dragOver(pointInView(info)) ? appkit::kDragOperationCopy : appkit::kDragOperationNone;
}

bool DragDropMac::performDragOperation(appkit::DraggingSession* info) {
  if (!accepting_) return false;
  if (takeIncoming(info)) callback_->dropped(item_.get(), pointInView(info));
  accepting_ = false;
  return true;
}

void DragDropMac::draggingEnded(appkit::DraggingSession* info) {
  armed_ = false;
  if (dragStarted_) callback_->dragEnded(info);
}

unsigned long DragDropMac::sourceOperationMask(long context) {
  return context == appkit::kDraggingContextWithinApplication ? appkit::kDragOperationCopy : appkit::kDragOperationNone;
}

}  // namespace ui
