#include "platform/appkit/Dragging.h"

#include <algorithm>

#include "platform/appkit/Event.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"

namespace appkit {

namespace {

// The session in progress; never destroyed, as a drag may be under way
// when the process ends.
objc::Ref<DraggingSession>& currentSession() {
  static auto* const session = new objc::Ref<DraggingSession>;
  return *session;
}

DraggingDestination* asDestination(View* view) { return dynamic_cast<DraggingDestination*>(view); }

}  // namespace

DraggingImageComponent* DraggingImageComponent::withKey(const char* key) {
  auto* component = new DraggingImageComponent(key ? key : "");
  component->autorelease();
  return component;
}

DraggingImageComponent::~DraggingImageComponent() = default;

void DraggingImageComponent::setContents(Image* image) { contents_ = image; }

DraggingItem::DraggingItem(PasteboardItem* writer) : writer_(writer) {}

DraggingItem::~DraggingItem() = default;

std::vector<DraggingImageComponent*> DraggingItem::imageComponents() const {
  return provider_ ? provider_() : std::vector<DraggingImageComponent*>{};
}

DraggingSession* DraggingSession::begin(View* view, const std::vector<DraggingItem*>& items, Event* event,
                                        DraggingSource* source) {
  objc::Ref<DraggingSession> session = objc::adopt(new DraggingSession);
  session->view_ = view;
  session->source_ = source;
  Pasteboard* pasteboard = Pasteboard::dragPasteboard();
  pasteboard->clearContents();
  std::vector<PasteboardItem*> writers;
  for (DraggingItem* item : items) {
    if (!item) continue;
    session->items_.push_back(item);
    if (item->item()) writers.push_back(item->item());
  }
  pasteboard->writeObjects(writers);
  if (event) {
    session->window_ = event->window();
    session->location_ = event->locationInWindow();
  }
  // A newer drag replaces one that never ended.
  currentSession() = session;
  return objc::autoreleased(std::move(session));
}

DraggingSession* DraggingSession::current() noexcept { return currentSession(); }

DraggingSession::~DraggingSession() = default;

Pasteboard* DraggingSession::draggingPasteboard() const noexcept { return Pasteboard::dragPasteboard(); }

unsigned long DraggingSession::draggingSourceOperationMask() {
  return source_ ? source_->sourceOperationMask(this, kDraggingContextWithinApplication) : kDragOperationNone;
}

View* DraggingSession::destinationAt(Window* window, Point base) const {
  View* content = window ? window->contentView() : nullptr;
  std::vector<std::string> types = draggingPasteboard()->types();
  for (View* v = content ? content->hitTest(base) : nullptr; v; v = v->superview()) {
    DraggingDestination* destination = asDestination(v);
    if (!destination) continue;
    for (const std::string& type : destination->registeredDraggedTypes())
      if (std::find(types.begin(), types.end(), type) != types.end()) return v;
  }
  return nullptr;
}

void DraggingSession::moveTo(Window* window, Point base) {
  if (ended_) return;
  window_ = window;
  location_ = base;
  objc::Ref<View> target = destinationAt(window, base);
  if (target != destination_) {
    if (objc::Ref<View> left = std::move(destination_)) asDestination(left)->draggingExited(this);
    operation_ = kDragOperationNone;
    if (!target) return;
    destination_ = target;
    operation_ = asDestination(target)->draggingEntered(this) & draggingSourceOperationMask();
  }
  if (!destination_) return;
  // The platform keeps asking while the pointer is over the destination.
  operation_ = asDestination(destination_)->draggingUpdated(this) & draggingSourceOperationMask();
}

unsigned long DraggingSession::drop() {
  if (ended_) return kDragOperationNone;
  ended_ = true;
  // Held through the destination's calls and the end of the session.
  objc::Ref<DraggingSession> self(this);
  unsigned long performed = kDragOperationNone;
  if (objc::Ref<View> target = destination_) {
    DraggingDestination* destination = asDestination(target);
    if (operation_ != kDragOperationNone && destination->performDragOperation(this)) performed = operation_;
    destination->draggingEnded(this);
  }
  if (currentSession() == this) currentSession().reset();
  return performed;
}

}  // namespace appkit
