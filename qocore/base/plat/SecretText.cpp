#include "qocore/base/plat/SecretText.h"

#include <cstring>
#include <utility>

#include "qocore/base/plat/Strings.h"

namespace plat {

namespace {

constinit secret_text_hooks::ReleaseFn releaseHook = nullptr;

// A NUL-terminated copy of the first `length` bytes of `text`.
char* copyOf(const char* text, size_t length) {
  char* buf = new char[length + 1];
  std::memcpy(buf, text, length);
  buf[length] = '\0';
  return buf;
}

}  // namespace

namespace secret_text_hooks {
void setRelease(ReleaseFn fn) noexcept { releaseHook = fn; }
}  // namespace secret_text_hooks

SecretText::SecretText(const char* text) {
  if (!text) return;
  const size_t length = std::strlen(text);
  take(copyOf(text, length), length);
}

SecretText::SecretText(const char* text, size_t length) {
  if (!text) return;
  const void* nul = std::memchr(text, '\0', length);
  if (nul) length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  take(copyOf(text, length), length);
}

SecretText SecretText::adopt(CharArray owned) noexcept {
  SecretText secret;
  if (owned) {
    const size_t length = std::strlen(owned.get());
    secret.take(owned.release(), length);
  }
  return secret;
}

SecretText::SecretText(SecretText&& other) noexcept
    : buf_(std::exchange(other.buf_, nullptr)), len_(std::exchange(other.len_, 0)) {}

SecretText& SecretText::operator=(SecretText&& other) noexcept {
  if (this != &other) {
    const size_t length = std::exchange(other.len_, 0);
    take(std::exchange(other.buf_, nullptr), length);
  }
  return *this;
}

void SecretText::assign(const char* text) { *this = SecretText(text); }

void SecretText::assign(const char* text, size_t length) { *this = SecretText(text, length); }

void SecretText::reset() noexcept { take(nullptr, 0); }

void SecretText::take(char* owned, size_t length) noexcept {
  char* old = std::exchange(buf_, owned);
  const size_t oldLength = std::exchange(len_, length);
  if (!old) return;
  secureZero(old, oldLength);
  if (releaseHook) releaseHook(old, oldLength);
  delete[] old;
}

}  // namespace plat
