#pragma once
// Test helper: the message of the exception of type E that an action
// throws, or "(nothing thrown)".

#include <string>

namespace yarl_test {

template <typename E, typename F>
std::string failureOf(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.str();
  }
  return "(nothing thrown)";
}

}  // namespace yarl_test
