#pragma once
// Test injectors: user actions on the façade as the platform would deliver
// them.  Each builds the events the action makes and posts them to the
// application's queue (a running loop handles them; outside a loop,
// `handleQueued` does).  Click counts follow the double-click interval
// (Metrics.h) on the replaceable monotonic clock.

#include <cstdint>

#include "platform/appkit/Geometry.h"

namespace appkit {

class Window;

namespace inject {

// Handles the queued events now, outside any loop; answers their number.
int handleQueued();

// The pointer: a press and release at a point in the window's base
// coordinates (the window's click count rules apply); a drag from one
// point to another (press, one drag event per step, release).
void click(Window* window, Point base, uint64_t flags = 0);
void mouseDown(Window* window, Point base, uint64_t flags = 0);
void mouseUp(Window* window, Point base, uint64_t flags = 0);
void drag(Window* window, Point from, Point to, int steps = 2);
void rightClick(Window* window, Point base);
// Moves the pointer to a screen position, delivering entered and exited
// events to the tracking areas of every visible window.
void movePointer(Point screen);

// Keys: a key press and release on the key window, with the characters
// the key types (null: none) and modifier flags.
void key(unsigned short keyCode, const char* characters, uint64_t flags = 0);
void keyDown(unsigned short keyCode, const char* characters, uint64_t flags = 0);
void flagsChanged(unsigned short keyCode, uint64_t flags);

// Another application's mouse press at a screen point: seen by global
// monitors only.
void foreignMouseDown(Point screen);
// Another application comes to the front.
void deactivate();
// The window's close button (as performClose:).
void closeButton(Window* window);
// The user drags the window's edge or title bar.
void resize(Window* window, Size size);
void move(Window* window, Point origin);
void miniaturize(Window* window);
// Full screen in and out (the delegate hears will and did).
void enterFullScreen(Window* window);
void exitFullScreen(Window* window);
// The display arrangement: one main display of the size and scale.
void mainDisplay(double width, double height, double scale);

}  // namespace inject
}  // namespace appkit
