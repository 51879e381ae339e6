#pragma once
// qoutil::PngFile: one PNG image held whole in memory, decoded through
// libpng into 32-bit blue-green-red pixels (with alpha when the image has
// any, else a zero filler byte).  The header is read at construction; the
// rows at load().  Nothing here writes PNG.

#include <csetjmp>
#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rfb/ImageLoader.h"

// libpng's structures, kept out of this header.
struct png_struct_def;
struct png_info_def;

namespace qoutil {

// A PNG that cannot be decoded; the message names the image.
class PngException : public plat::Exception {
 public:
  explicit PngException(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
};

class PngFile : public rfb::ImageLoader {
 public:
  // Images wider or taller than this are refused: buffers keep their
  // coordinates in 16 bits.
  static constexpr uint32_t kMaxDimension = 32767;

  // `data` is not copied and must outlive the file.  A null name is
  // "<unknown>" in messages.  Throws PngException when the header cannot
  // be read or the image is not one this reader delivers.
  PngFile(uint32_t size, const uint8_t* data, bool premultiply, const char* name);
  ~PngFile() override;
  PngFile(const PngFile&) = delete;
  PngFile& operator=(const PngFile&) = delete;

  [[nodiscard]] rfb::Size getSize() const override { return {width, height}; }
  [[nodiscard]] const rfb::PixelFormat* getPf() const override { return &pf; }
  // Decodes the rows into pb at `at` (once per file: libpng reads its input
  // forward only), premultiplying alpha when asked.  Throws PngException on
  // bad data; rows already decoded stay in pb.
  void load(rfb::WritablePixelBuffer* pb, rfb::Point at) override;

  // The libpng callbacks; they find the file through libpng's error and
  // input pointers and never return to libpng on failure.
  static void errorFn(png_struct_def* png, const char* message);
  static void readFn(png_struct_def* png, uint8_t* dest, size_t length);
  // The same as member operations.
  [[noreturn]] void fail(const char* message);
  void readData(uint8_t* dest, size_t length);

 private:
  // The steps that run under libpng's jump-based error return.  Each only
  // answers whether libpng failed: nothing with a destructor lives in
  // their frames, and the exception is thrown by the caller.
  [[nodiscard]] bool readHeader() noexcept;
  [[nodiscard]] bool readRows(uint8_t* first, ptrdiff_t rowBytes) noexcept;
  void readAllRows(uint8_t* first, ptrdiff_t rowBytes);
  void release() noexcept;

  uint32_t encodedSize;
  const uint8_t* encodedData;
  uint32_t position = 0;
  rfb::PixelFormat pf;
  int32_t width = 0;
  int32_t height = 0;
  std::jmp_buf jmp;
  plat::CharArray lastError;
  plat::CharArray name;
  bool premultiply;
  int passes = 1;
  png_struct_def* pp = nullptr;
  png_info_def* ip = nullptr;
};

}  // namespace qoutil
