#pragma once
// Message templates: user-facing texts that take values are expanded from
// a template with typed arguments, so a translation can reorder them.
//
// A placeholder is '%', then in any order and each at most once a '+'
// (signed numbers only, written with their sign), a precision ".n"
// (strings only, cut to at most n bytes on a character boundary) and a
// position "n$" (1 = the first argument), then the conversion: 'S' a
// string, 'D' a number, 'X' an unsigned number in lower-case hex.
// Without a position the placeholder takes the only argument.  "%%" is one
// '%'.  A placeholder that does not fit its argument is written as "%%",
// the rest of it is copied as text, and the template is logged as bad.

#include <cstdint>
#include <deque>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"

namespace loc {

// One argument of a template; the arguments form a singly linked list.
struct Arg {
  enum Kind { kSigned = 0, kUnsigned = 1, kString = 2 };
  Kind kind = kSigned;
  int32_t s = 0;
  uint32_t u = 0;
  const char* str = nullptr;  // not owned
  const Arg* next = nullptr;
};

// Builds an argument list in order: ArgList().str("x").num(3).
class ArgList {
 public:
  ArgList() = default;
  // A copy links its own elements.
  ArgList(const ArgList& other) : args_(other.args_) { relink(); }
  ArgList& operator=(const ArgList& other) {
    args_ = other.args_;
    relink();
    return *this;
  }
  ArgList& num(int32_t value) { return push({Arg::kSigned, value, 0, nullptr, nullptr}); }
  ArgList& unum(uint32_t value) { return push({Arg::kUnsigned, 0, value, nullptr, nullptr}); }
  ArgList& str(const char* value) { return push({Arg::kString, 0, 0, value, nullptr}); }
  const Arg* first() const noexcept { return args_.empty() ? nullptr : &args_.front(); }

 private:
  ArgList& push(const Arg& arg) {
    // A deque never moves its elements when growing at the end, so the
    // links stay valid.
    args_.push_back(arg);
    if (args_.size() > 1) args_[args_.size() - 2].next = &args_.back();
    return *this;
  }
  void relink() {
    for (size_t i = 0; i < args_.size(); ++i) args_[i].next = i + 1 < args_.size() ? &args_[i + 1] : nullptr;
  }
  std::deque<Arg> args_;
};

// Appends the expansion of the template to out and returns out.
plat::DString& formatArgs(plat::DString& out, const char* templ, const Arg* args);
plat::CharArray formatNew(const char* templ, const Arg* args);

}  // namespace loc

namespace plat {
// printf into a 256-byte buffer, cut safely (never past the buffer, always
// terminated).
void formatInto256(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
}  // namespace plat
