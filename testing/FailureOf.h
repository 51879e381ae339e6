#pragma once
// Test helper: what an action throws, as one text, so that a single
// EXPECT_EQ checks both that it threw and what it said.  Every form catches
// only the exception type E it names (anything else passes through and fails
// the test) and answers "(nothing thrown)" when the action returns:
//
//   failureOf<E>(action)            the message, e.str()
//   typedFailureOf<E>(action)       "<type name>: <message>"
//   formattedFailureOf<E>(action)   the text the handlers print, e.format():
//                                   "[<type name>] <message>", or the
//                                   message alone when there is no type
//   failureOf<E>(action, describe)  describe(e), for what else a test reads
//                                   off its exception (an error number, a
//                                   status), written as one text

#include <string>
#include <utility>

namespace yarl_test {

inline constexpr char kNothingThrown[] = "(nothing thrown)";

template <typename E, typename F, typename Describe>
std::string failureOf(F&& action, Describe&& describe) {
  try {
    std::forward<F>(action)();
  } catch (const E& e) {
    return describe(e);
  }
  return kNothingThrown;
}

template <typename E, typename F>
std::string failureOf(F&& action) {
  return failureOf<E>(std::forward<F>(action), [](const E& e) { return std::string(e.str()); });
}

template <typename E, typename F>
std::string typedFailureOf(F&& action) {
  return failureOf<E>(std::forward<F>(action), [](const E& e) { return std::string(e.typeName()) + ": " + e.str(); });
}

template <typename E, typename F>
std::string formattedFailureOf(F&& action) {
  return failureOf<E>(std::forward<F>(action), [](const E& e) {
    char text[E::kMsgSize];
    e.format(text);
    return std::string(text);
  });
}

}  // namespace yarl_test
