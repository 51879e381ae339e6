#pragma once
// plat::CharArray: an owned NUL-terminated character array (array new /
// delete).  Functions that hand back new text return one; null in gives
// null out.  Copying duplicates the text.

#include <cstddef>
#include <vector>

namespace plat {

class CharArray {
 public:
  CharArray() noexcept = default;
  // Copies `text`, or its first `len` bytes (stopping at a NUL); null
  // gives a null array.
  explicit CharArray(const char* text, int len = -1);
  // Takes ownership of a buffer allocated with new[].
  static CharArray adopt(char* owned) noexcept;
  // A zeroed buffer of `size` bytes.
  static CharArray zeroed(size_t size);

  CharArray(const CharArray& other);
  CharArray(CharArray&& other) noexcept : buf_(other.buf_) { other.buf_ = nullptr; }
  CharArray& operator=(const CharArray& other);
  CharArray& operator=(CharArray&& other) noexcept;
  // Copies the text and frees the old one.
  CharArray& operator=(const char* text);
  ~CharArray() { delete[] buf_; }

  char* get() const noexcept { return buf_; }
  // The text, or "" when null.
  const char* c_str() const noexcept { return buf_ ? buf_ : ""; }
  bool isNull() const noexcept { return buf_ == nullptr; }
  explicit operator bool() const noexcept { return buf_ != nullptr; }
  char& operator[](size_t i) const noexcept { return buf_[i]; }

  // Hands the buffer to the caller, who frees it with delete[].
  char* release() noexcept {
    char* p = buf_;
    buf_ = nullptr;
    return p;
  }
  void reset(char* owned = nullptr) noexcept;

 private:
  char* buf_ = nullptr;
};

// A list of owned strings; each is freed with the list.
using CharArrayList = std::vector<CharArray>;

// Owned NUL-terminated UTF-8 text, as string settings and JSON strings hold it.
using String = CharArray;

}  // namespace plat
