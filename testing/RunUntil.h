#pragma once
// Test helper: turns an event loop until a condition holds.
//
//   runUntil(loop, done, timeout)
//
// serves `loop` one round at a time until done() is true and answers
// whether it is; it gives up when `timeout` has passed without it.  The
// bound only keeps a broken build from hanging: a passing test never comes
// near it, so it says nothing about speed.  `loop` is a runloop::RunLoop
// (the run-loop manager's, `manager.runLoop()`) or an io::FdSelectManager.
// The condition is read before each round, so one that already holds runs
// nothing.

#include <chrono>

namespace yarl_test {

// How long one round waits for an event when nothing is ready; a condition
// that no event of the loop makes true (another thread's work) is seen
// within this.
inline constexpr int kRunUntilRoundMs = 10;

template <typename Loop, typename Done>
bool runUntil(Loop& loop, Done&& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if constexpr (requires { loop.runOnce(kRunUntilRoundMs); }) {
      loop.runOnce(kRunUntilRoundMs);
    } else {
      loop.poll(kRunUntilRoundMs);
    }
  }
  return true;
}

}  // namespace yarl_test
