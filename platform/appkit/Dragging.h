#pragma once
// Stands in for the platform's dragging within the application: a view
// begins a session with dragging items (each writing one pasteboard item
// to the dragging pasteboard, with an optional image) for a dragging
// source; the session then follows the pointer over the windows, telling
// destination views as it enters, moves over and leaves them, and drops
// on the last one when the button goes up.  Here the pointer's way is
// given by the caller (moveTo, drop), as the platform's own tracking
// would report it.
//
// A destination is a view that implements DraggingDestination and has
// registered at least one of the pasteboard's types.  The operation of a
// move is the destination's answer masked by the source's operation mask
// for the context (drags of this stand-in never leave the application, so
// the context is always kDraggingContextWithinApplication).
//
// Main thread only.

#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"

namespace appkit {

class Event;
class Image;
class Pasteboard;
class PasteboardItem;
class View;
class Window;
class DraggingSession;

enum DragOperation : unsigned long {
  kDragOperationNone = 0,
  kDragOperationCopy = 1,
  kDragOperationLink = 2,
  kDragOperationGeneric = 4,
  kDragOperationMove = 16,
};

enum DraggingContext : long {
  kDraggingContextOutsideApplication = 0,
  kDraggingContextWithinApplication = 1,
};

// One image layer of a dragging item.
class DraggingImageComponent : public objc::Object {
 public:
  // draggingImageComponentWithKey:: autoreleased.
  static DraggingImageComponent* withKey(const char* key);
  const char* key() const noexcept { return key_.c_str(); }
  // The contents are retained.
  Image* contents() const noexcept { return contents_; }
  void setContents(Image* image);
  Rect frame() const noexcept { return frame_; }
  void setFrame(Rect frame) noexcept { frame_ = frame; }

 protected:
  ~DraggingImageComponent() override;

 private:
  explicit DraggingImageComponent(const char* key) : key_(key) {}
  std::string key_;
  objc::Ref<Image> contents_;
  Rect frame_;
};

// One dragged thing: the pasteboard item it writes and how it looks.
class DraggingItem : public objc::Object {
 public:
  // initWithPasteboardWriter: (one reference, the caller's); the item is
  // retained.
  explicit DraggingItem(PasteboardItem* writer);
  PasteboardItem* item() const noexcept { return writer_; }
  Rect draggingFrame() const noexcept { return frame_; }
  void setDraggingFrame(Rect frame) noexcept { frame_ = frame; }
  // The components are asked for when the image is shown; without a
  // provider the platform's default image is used.
  using ComponentsProvider = std::function<std::vector<DraggingImageComponent*>()>;
  void setImageComponentsProvider(ComponentsProvider provider) { provider_ = std::move(provider); }
  bool hasImageComponentsProvider() const noexcept { return static_cast<bool>(provider_); }
  std::vector<DraggingImageComponent*> imageComponents() const;

 protected:
  ~DraggingItem() override;

 private:
  objc::Ref<PasteboardItem> writer_;
  Rect frame_;
  ComponentsProvider provider_;
};

// The object that began a drag.
class DraggingSource {
 public:
  virtual ~DraggingSource() = default;
  // draggingSession:sourceOperationMaskForDraggingContext:.
  virtual unsigned long sourceOperationMask(DraggingSession* session, long context) = 0;
};

// A view that takes drops.  The session is its dragging information.
class DraggingDestination {
 public:
  virtual ~DraggingDestination() = default;
  virtual unsigned long draggingEntered(DraggingSession*) { return kDragOperationNone; }
  virtual unsigned long draggingUpdated(DraggingSession*) { return kDragOperationNone; }
  virtual bool performDragOperation(DraggingSession*) { return false; }
  virtual void draggingEnded(DraggingSession*) {}
  virtual void draggingExited(DraggingSession*) {}

  // registerForDraggedTypes:: replaces the registered types.
  void registerForDraggedTypes(std::vector<std::string> types) { types_ = std::move(types); }
  void unregisterDraggedTypes() noexcept { types_.clear(); }
  const std::vector<std::string>& registeredDraggedTypes() const noexcept { return types_; }

 private:
  std::vector<std::string> types_;
};

class DraggingSession : public objc::Object {
 public:
  // beginDraggingSessionWithItems:event:source: on the view: puts the
  // items' pasteboard items on the dragging pasteboard and starts the
  // session at the event's location (an autoreleased session, also held
  // as the current one until it ends).  The view and source must outlive
  // the session.
  static DraggingSession* begin(View* view, const std::vector<DraggingItem*>& items, Event* event,
                                DraggingSource* source);
  // The session in progress; null when none.
  static DraggingSession* current() noexcept;

  // The pointer moves to a point of the window's base coordinates.
  void moveTo(Window* window, Point base);
  // The button goes up: the destination performs the drop when the last
  // move's operation was not none; the destination (if any) hears the
  // end; the session is over.  Answers the operation performed.
  unsigned long drop();

  // The dragging information.
  Pasteboard* draggingPasteboard() const noexcept;
  // In the base coordinates of the window under the pointer.
  Point draggingLocation() const noexcept { return location_; }
  Window* draggingDestinationWindow() const noexcept { return window_; }
  DraggingSource* draggingSource() const noexcept { return source_; }
  View* sourceView() const noexcept { return view_; }
  unsigned long draggingSourceOperationMask();
  const std::vector<DraggingItem*>& items() const noexcept { return items_.items(); }
  bool hasEnded() const noexcept { return ended_; }

 protected:
  ~DraggingSession() override;

 private:
  DraggingSession() = default;
  // The view under the pointer that takes one of the pasteboard's types.
  View* destinationAt(Window* window, Point base) const;

  View* view_ = nullptr;
  DraggingSource* source_ = nullptr;
  objc::RefVector<DraggingItem> items_;
  Window* window_ = nullptr;
  Point location_;
  objc::Ref<View> destination_;
  unsigned long operation_ = kDragOperationNone;
  bool ended_ = false;
};

}  // namespace appkit
