#pragma once
// Drag and drop between the custom views of the application.  A view's
// controller starts drags from presses that its callback allows, putting
// the callback's bytes on the dragging pasteboard under the pasteboard
// type of the view's drag type name, and takes drops of the type names it
// accepts (the first accepted name that the drag carries wins).  Type
// names are the program's short names; on the pasteboard they become
// "com.<company>.<application>.<name>".  Drags never leave the
// application.
//
// Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Dragging.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"
#include "qocore/base/qoutil/DragDetector.h"
#include "qocore/base/qoutil/DragDropData.h"
#include "qocore/base/rfb/Rect.h"

namespace ui {

// The pasteboard type of a short type name.
std::string pasteboardTypeFor(const char* typeName);

class DragDropDataMac : public qoutil::DragDropData {
 public:
  // An outgoing item, writing to a pasteboard item of its own.
  explicit DragDropDataMac(const char* typeName);
  // An incoming item, reading the session's dragging pasteboard.
  DragDropDataMac(const char* typeName, appkit::DraggingSession* info);
  ~DragDropDataMac() override;
  DragDropDataMac(const DragDropDataMac&) = delete;
  DragDropDataMac& operator=(const DragDropDataMac&) = delete;

  void getData(plat::MBuf<unsigned char>& buffer) override;
  void setData(int32_t length, const unsigned char* bytes) override;
  bool hasData() override;

  const char* typeName() const noexcept { return typeName_.c_str(); }
  const std::string& pasteboardType() const noexcept { return pasteboardType_; }
  appkit::PasteboardItem* pasteboardItem() const noexcept { return item_; }

 private:
  std::string typeName_;
  std::string pasteboardType_;
  appkit::Pasteboard* pasteboard_ = nullptr;
  objc::Ref<appkit::PasteboardItem> item_;
};

class DragDropMac {
 public:
  // The view's drag receiver.
  class Callback {
   public:
    virtual ~Callback();
    // Whether a drag may start at the press point; gives the drag's
    // identifier.
    virtual bool canStartDrag(rfb::Point press, int* dragId) = 0;
    virtual bool acceptDrag(qoutil::DragDropData* item) = 0;
    // Whether a drop at the point would be taken.
    virtual bool dragOver(rfb::Point point) = 0;
    virtual bool dropped(qoutil::DragDropData* item, rfb::Point point) = 0;
    // Fills the outgoing item; false cancels the drag.
    virtual bool fillDragData(qoutil::DragDropData* item, rfb::Point press) = 0;
    virtual void dragEnded(appkit::DraggingSession* info) = 0;
  };
  class ImageProvider {
   public:
    virtual ~ImageProvider();
    // The image (not retained by the provider's answer) and the offset of
    // the press point within it; a null image leaves the default image.
    virtual void getDragImage(int dragId, appkit::Image** image, rfb::Point* offset, rfb::Point press) = 0;
  };

  // The view must be a dragging source; it and the receivers must outlive
  // the controller.  The image provider may be null.
  DragDropMac(Callback* callback, ImageProvider* imageProvider, appkit::View* view);
  ~DragDropMac();
  DragDropMac(const DragDropMac&) = delete;
  DragDropMac& operator=(const DragDropMac&) = delete;

  // The type of outgoing drags and the accepted types, in order of
  // preference; registers the view for the accepted types.
  void setTypes(const char* dragType, const std::vector<const char*>& acceptedTypes);

  // Source side, from the view's mouse handler.
  void mousePressed(rfb::Point point);
  void mouseDragged(appkit::Event* event, rfb::Point point);
  // Target side, from the view.
  unsigned long draggingEntered(appkit::DraggingSession* info);
  unsigned long draggingUpdated(appkit::DraggingSession* info);
  bool performDragOperation(appkit::DraggingSession* info);
  void draggingEnded(appkit::DraggingSession* info);
  // Copy within the application, none elsewhere.
  static unsigned long sourceOperationMask(long context);

  bool armed() const noexcept { return armed_; }
  bool accepting() const noexcept { return accepting_; }
  int dragId() const noexcept { return dragId_; }

 private:
  // A new incoming item for the first accepted type that the drag
  // carries; false when it carries none.
  bool takeIncoming(appkit::DraggingSession* info);
  rfb::Point pointInView(appkit::DraggingSession* info) const;

  Callback* callback_;
  ImageProvider* imageProvider_;
  appkit::View* view_;
  objc::Ref<appkit::Image> dragImage_;
  std::unique_ptr<qoutil::DragDropData> item_;
  bool armed_ = false;
  bool accepting_ = false;
  qoutil::DragDetector detector_{rfb::Point{}};
  rfb::Point press_;
  bool dragStarted_ = false;
  std::string dragType_;
  std::vector<std::string> acceptedTypes_;
  int dragId_ = -1;
};

}  // namespace ui
