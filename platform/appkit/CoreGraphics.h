#pragma once
// Stands in for the graphics layer's synthetic keyboard events: an event is
// made, given one UTF-16 unit, and posted.  Posting records the event and
// delivers it to the key window as a key event with that character, as the
// system would after routing it back to this application.

#include <cstdint>
#include <vector>

namespace appkit {

struct KeyboardEvent {
  uint16_t virtualKey = 0;
  bool keyDown = false;
  std::vector<uint16_t> unicode;
  int tap = -1;
};

// CGEventCreateKeyboardEvent: a new event (the caller releases it).
KeyboardEvent* createKeyboardEvent(void* source, uint16_t virtualKey, bool keyDown);
void keyboardSetUnicodeString(KeyboardEvent* event, unsigned long length, const uint16_t* units);
void postKeyboardEvent(int tap, KeyboardEvent* event);
void releaseKeyboardEvent(KeyboardEvent* event);
// Every event posted so far, in order (tests).
std::vector<KeyboardEvent>& postedKeyboardEvents();

}  // namespace appkit
