#include "platform/appkit/CoreGraphics.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/objc/String.h"

namespace appkit {

std::vector<KeyboardEvent>& postedKeyboardEvents() {
  static std::vector<KeyboardEvent>* posted = new std::vector<KeyboardEvent>;
  return *posted;
}

KeyboardEvent* createKeyboardEvent(void*, uint16_t virtualKey, bool keyDown) {
  KeyboardEvent* e = new KeyboardEvent;
  e->virtualKey = virtualKey;
  e->keyDown = keyDown;
  return e;
}

void keyboardSetUnicodeString(KeyboardEvent* event, unsigned long length, const uint16_t* units) {
  if (!event) return;
  event->unicode.assign(units, units + length);
}

void postKeyboardEvent(int tap, KeyboardEvent* event) {
  if (!event) return;
  event->tap = tap;
  postedKeyboardEvents().push_back(*event);
  Application& app = Application::shared();
  objc::AutoreleasePool pool;
  objc::String* text = objc::String::fromUtf16(event->unicode.data(), event->unicode.size());
  if (text) text->autorelease();
  const char* chars = text ? text->utf8() : "";
  long number = app.keyWindow() ? app.keyWindow()->windowNumber() : 0;
  app.postEvent(Event::keyEvent(event->keyDown ? kEventKeyDown : kEventKeyUp, {}, 0, 0, number, chars, chars, false,
                                event->virtualKey),
                false);
}

void releaseKeyboardEvent(KeyboardEvent* event) { delete event; }

}  // namespace appkit
