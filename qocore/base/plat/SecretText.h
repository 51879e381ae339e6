#pragma once
// plat::SecretText: the owner of one secret text (a password, a token, a
// header that carries credentials), wiped with plat::secureZero when the
// owner lets it go: on destruction, on reset() and before it takes another
// text.  Move-only; a second copy is made only by clone(), so nothing
// copies a secret unwiped by accident.  The text is read through c_str():
// there is no conversion to a character pointer.
//
// Like plat::CharArray it tells a null text (none given) from an empty
// one.  Owned secret texts live in one of these; fixed buffers (key
// material in arrays, texts being built in a plat::DString) are wiped with
// plat::secureZero where they go.

#include <cstddef>

#include "qocore/base/plat/CharArray.h"

namespace plat {

class SecretText {
 public:
  constexpr SecretText() noexcept = default;
  // Copies `text`; null gives a null secret.
  explicit SecretText(const char* text);
  // Copies the first `length` bytes of `text`, stopping at a NUL.
  SecretText(const char* text, size_t length);
  // Takes over a text that nothing else keeps a copy of.
  static SecretText adopt(CharArray owned) noexcept;

  SecretText(SecretText&& other) noexcept;
  SecretText& operator=(SecretText&& other) noexcept;
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  ~SecretText() { reset(); }

  // A second owner of a copy of the text.
  [[nodiscard]] SecretText clone() const { return SecretText(buf_, len_); }

  // Wipe the held text and hold a copy of `text` (null gives null).  The
  // text may lie inside the held one.
  void assign(const char* text);
  void assign(const char* text, size_t length);
  SecretText& operator=(const char* text) {
    assign(text);
    return *this;
  }

  // The text, or "" when null.
  const char* c_str() const noexcept { return buf_ ? buf_ : ""; }
  size_t length() const noexcept { return len_; }
  bool empty() const noexcept { return len_ == 0; }
  bool isNull() const noexcept { return buf_ == nullptr; }
  explicit operator bool() const noexcept { return buf_ != nullptr; }

  // Wipes and frees the text now; the secret is null after.
  void reset() noexcept;

 private:
  void take(char* owned, size_t length) noexcept;

  char* buf_ = nullptr;
  size_t len_ = 0;
};

// For tests: told of every text a SecretText lets go, after the wipe and
// before the memory is freed.  Constant-initialised; null by default.
namespace secret_text_hooks {
using ReleaseFn = void (*)(const char* wiped, size_t length);
void setRelease(ReleaseFn fn) noexcept;
}  // namespace secret_text_hooks

}  // namespace plat
