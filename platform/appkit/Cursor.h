#pragma once
// Stands in for the platform's cursors: there is no pointer to draw here,
// so the cursor set and the stack of pushed cursors are recorded for tests.

#include <vector>

namespace appkit {

enum CursorKind : int {
  kCursorArrow = 0,
  kCursorIBeam = 1,
  kCursorPointingHand = 2,
  kCursorResizeLeftRight = 3,
  kCursorResizeUpDown = 4,
  kCursorCrosshair = 5,
  kCursorOperationNotAllowed = 6,
  kCursorClosedHand = 7,
};

class Cursor {
 public:
  // set: the shown cursor, without touching the stack.
  static void set(int kind);
  // push: shows the cursor and remembers the one it hides; pop: shows
  // that one again (an empty stack keeps the arrow).
  static void push(int kind);
  static void pop();
  static int current();
  static const std::vector<int>& stack();
  // Forgets the stack and shows the arrow (tests).
  static void reset();
};

}  // namespace appkit
