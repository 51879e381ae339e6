#include "qocore/uilibs/ui/mac/CocoaUtil.h"

#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/qoutil/mac/MacKeyboard.h"
#include "qocore/uilibs/ui/mac/AttrString.h"

namespace ui {

namespace {
void setPlainText(objc::Object* control, const char* text) {
  if (auto* t = dynamic_cast<appkit::TitleSetter*>(control))
    t->setTitle(text);
  else if (auto* s = dynamic_cast<appkit::StringValueSetter*>(control))
    s->setStringValue(text);
  else if (auto* l = dynamic_cast<appkit::LabelSetter*>(control))
    l->setLabel(text);
}
}  // namespace

void setControlText(objc::Object* control, const char* text) {
  if (!text) text = "";
  if (dynamic_cast<appkit::TextView*>(control)) {
    AttrString s(text, false, 0);
    setControlAttributedText(control, s.get());
    return;
  }
  setPlainText(control, text);
}

void setControlAttributedText(objc::Object* control, const appkit::AttributedString* text) {
  if (auto* view = dynamic_cast<appkit::TextView*>(control)) {
    view->textStorage()->setAttributedString(text);
    view->setSelectedRange(appkit::Range{0, 0});
  } else if (auto* t = dynamic_cast<appkit::AttributedTitleSetter*>(control)) {
    t->setAttributedTitle(text);
  } else {
    objc::AutoreleasePool pool;
    setPlainText(control, text ? text->string()->utf8() : "");
  }
}

uint32_t mnemonicChar(char* text) {
  int32_t ch = plat::stripMnemonic(text);
  return ch > 0 ? qoutil::toLowerGerman(static_cast<uint32_t>(ch)) : 0;
}

uint16_t setMnemonicKeyEquivalent(objc::Object* control, const char* text, bool enable) {
  if (!text) return 0;
  std::string copy(text);
  uint32_t ch = mnemonicChar(copy.data());
  if (ch == 0 || ch > 0xFFFF) return 0;
  if (enable)
    if (auto* k = dynamic_cast<appkit::KeyEquivalentSetter*>(control)) {
      char buf[5] = {};
      char* p = buf;
      if (ch < 0x80)
        *p = static_cast<char>(ch);
      else
        plat::utf8Encode(static_cast<int32_t>(ch), &p);
      k->setKeyEquivalent(buf);
    }
  return static_cast<uint16_t>(ch);
}

uint16_t eventChar(appkit::Event* event) {
  objc::String* chars = event ? event->characters() : nullptr;
  if (!chars || chars->utf16Length() != 1) return 0;
  uint16_t c = chars->characterAt(0);
  if ((c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFDD0 && c <= 0xFDEF) || c == 0xFFFE || c == 0xFFFF) return 0;
  return c;
}

appkit::Size fittingSize(appkit::Control* control, bool restore) {
  appkit::Size old = control->frame().size;
  control->sizeToFit();
  appkit::Size fitted = control->frame().size;
  if (restore) control->setFrameSize(old);
  return fitted;
}

appkit::Size editFieldSize() {
  objc::Ref<appkit::TextField> field = objc::adopt(new appkit::TextField(appkit::makeRect(0, 0, 1, 1)));
  field->setClipsToBounds(true);
  field->setSelectable(true);
  field->setEditable(true);
  return fittingSize(field, false);
}

appkit::Size scrollContentSize(const appkit::ScrollView* view, bool horizontal, bool vertical, appkit::Size frame) {
  return appkit::ScrollView::contentSizeForFrameSize(frame, horizontal, vertical,
                                                     view ? view->borderType() : appkit::kNoBorder,
                                                     view ? view->scrollerStyle() : appkit::kScrollerStyleLegacy);
}

appkit::Size scrollFrameSize(const appkit::ScrollView* view, bool horizontal, bool vertical, appkit::Size content) {
  return appkit::ScrollView::frameSizeForContentSize(content, horizontal, vertical,
                                                     view ? view->borderType() : appkit::kNoBorder,
                                                     view ? view->scrollerStyle() : appkit::kScrollerStyleLegacy);
}

void disableElasticScrolling(appkit::ScrollView* view) {
  if (!view) return;
  view->setHorizontalScrollElasticity(appkit::kScrollElasticityNone);
  view->setVerticalScrollElasticity(appkit::kScrollElasticityNone);
}

appkit::Point viewToScreen(appkit::View* view, appkit::Point point) {
  appkit::Point base = view->convertPointToView(point, nullptr);
  return view->window() ? view->window()->convertBaseToScreen(base) : base;
}

appkit::Point screenToView(appkit::View* view, appkit::Point point) {
  appkit::Point base = view->window() ? view->window()->convertScreenToBase(point) : point;
  return view->convertPointFromView(base, nullptr);
}

appkit::Rect viewRectToScreen(appkit::View* view, appkit::Rect rect) {
  appkit::Rect base = view->convertRectToView(rect, nullptr);
  return view->window() ? view->window()->convertRectToScreen(base) : base;
}

bool isFirstResponder(appkit::View* view) {
  if (!view || !view->window()) return false;
  appkit::Responder* first = view->window()->firstResponder();
  if (first == view) return true;
  auto* editor = dynamic_cast<appkit::FieldEditor*>(first);
  return editor && dynamic_cast<appkit::TextField*>(view) && editor->delegate() == view;
}

void endFieldEditing(appkit::Window* window) {
  if (!window) return;
  auto* editor = dynamic_cast<appkit::TextView*>(window->firstResponder());
  if (editor && editor->isFieldEditor()) window->makeFirstResponder(nullptr);
}

namespace detail {
bool mouseInChildWindow(appkit::Event* event, appkit::Window* window, bool (*isOfClass)(appkit::Window*)) {
  if (!event || !window) return false;
  appkit::Point p = event->locationOnScreen();
  for (appkit::Window* child : window->childWindows())
    if (child->isVisible() && appkit::mouseInRect(p, child->frame(), false) && isOfClass(child)) return true;
  return false;
}
}  // namespace detail

appkit::Event* retargetMouseEvent(appkit::Event* event, appkit::Window* window) {
  appkit::Point base = window->convertScreenToBase(event->locationOnScreen());
  return appkit::Event::mouseEvent(event->type(), base, event->modifierFlags(), event->timestamp(),
                                   window->windowNumber(), event->eventNumber(), event->clickCount(),
                                   event->pressure());
}

bool fullKeyboardAccess() { return appkit::Application::shared().isFullKeyboardAccessEnabled(); }

long screenNumber(appkit::Screen* screen) { return screen ? static_cast<long>(screen->screenNumber()) : 0; }

appkit::Screen* screenWithNumber(long number) {
  for (appkit::Screen* s : appkit::Screen::screens())
    if (static_cast<long>(s->screenNumber()) == number) return s;
  return nullptr;
}

void NSViewAutoHiderOC::mouseEntered(appkit::Event*) {
  if (cxx) cxx->pointerMoved();
}

void NSViewAutoHiderOC::mouseExited(appkit::Event*) {
  if (cxx) cxx->pointerMoved();
}

NSViewAutoHider::NSViewAutoHider(appkit::View* view, uint32_t edge, uint32_t inset, AutoHider::Callback* callback)
    : AutoHider(edge, inset, callback), view_(view), target_(objc::adopt(new NSViewAutoHiderOC)) {
  target_->cxx = this;
  setWidget(this);
}

NSViewAutoHider::~NSViewAutoHider() {
  removeTrackingAreas();
  view_->removeFromSuperview();
  container_ = nullptr;
  target_->cxx = nullptr;
}

void NSViewAutoHider::removeTrackingAreas() {
  for (objc::Ref<appkit::TrackingArea>* area : {&viewArea_, &containerArea_}) {
    if (!*area) continue;
    if ((*area)->view()) (*area)->view()->removeTrackingArea(*area);
    area->reset();
  }
}

void NSViewAutoHider::addTrackingAreas() {
  constexpr unsigned kOptions =
      appkit::kTrackingMouseEnteredAndExited | appkit::kTrackingActiveAlways | appkit::kTrackingInVisibleRect;
  viewArea_ = objc::adopt(new appkit::TrackingArea(view_->bounds(), kOptions, target_));
  view_->addTrackingArea(viewArea_);
  if (container_) {
    containerArea_ = objc::adopt(new appkit::TrackingArea(container_->bounds(), kOptions, target_));
    container_->addTrackingArea(containerArea_);
  }
}

void NSViewAutoHider::setContainer(appkit::View* container) {
  removeTrackingAreas();
  view_->removeFromSuperview();
  container_ = container;
  if (container_) container_->addSubview(view_);
  addTrackingAreas();
  if (container_) place();
}

void NSViewAutoHider::pointerMoved() {
  if (!container_) return;
  appkit::Point p = appkit::Event::mouseLocation();
  appkit::Rect containerRect = viewRectToScreen(container_, container_->bounds());
  appkit::Rect viewRect = viewRectToScreen(view_, view_->bounds());
  bool inView = appkit::mouseInRect(p, viewRect, false);
  if (!inView && !appkit::mouseInRect(p, containerRect, false)) return;
  if (inView != isShowing()) start(inView, -1);
}

void NSViewAutoHider::setPosition(int x, int y) {
  view_->setFrameOrigin({static_cast<double>(x), static_cast<double>(y)});
}

AutoHider::Extent NSViewAutoHider::getSize() {
  appkit::Size s = view_->frame().size;
  return {static_cast<int>(s.width), static_cast<int>(s.height)};
}

AutoHider::Extent NSViewAutoHider::getContainerSize() {
  if (!container_) return {};
  appkit::Size s = container_->frame().size;
  return {static_cast<int>(s.width), static_cast<int>(s.height)};
}

bool NSViewAutoHider::isFlipped() { return container_ && !container_->isFlipped(); }

}  // namespace ui
