#include "platform/appkit/Cursor.h"

namespace appkit {

namespace {
struct State {
  int current = kCursorArrow;
  std::vector<int> stack;
};
State& state() {
  static State* s = new State;
  return *s;
}
}  // namespace

void Cursor::set(int kind) { state().current = kind; }

void Cursor::push(int kind) {
  State& s = state();
  s.stack.push_back(s.current);
  s.current = kind;
}

void Cursor::pop() {
  State& s = state();
  if (s.stack.empty()) {
    s.current = kCursorArrow;
    return;
  }
  s.current = s.stack.back();
  s.stack.pop_back();
}

int Cursor::current() { return state().current; }
const std::vector<int>& Cursor::stack() { return state().stack; }

void Cursor::reset() {
  state().stack.clear();
  state().current = kCursorArrow;
}

}  // namespace appkit
