#include "qocore/base/qoutil/PngFile.h"

#include <png.h>

#include <cstdarg>
#include <cstring>

#include "qocore/base/rfb/PixelTrans.h"

namespace qoutil {

PngException::PngException(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
  setType("PngException");
}

PngFile::PngFile(uint32_t size, const uint8_t* data, bool premultiply_, const char* name_)
    : encodedSize(size), encodedData(data), name(name_ ? name_ : "<unknown>"), premultiply(premultiply_) {
  if (!readHeader()) {
    const PngException e("%s: %s", lastError.c_str(), name.c_str());
    release();
    throw e;
  }
  const int colourType = png_get_color_type(pp, ip);
  if (colourType == PNG_COLOR_TYPE_RGB) {
    pf = rfb::PixelFormat::rgb888Host();
  } else if (colourType == PNG_COLOR_TYPE_RGB_ALPHA) {
    pf = rfb::PixelFormat::argb8888Host();
  } else {
    const PngException e("PNG color type %d not supported: %s", colourType, name.c_str());
    release();
    throw e;
  }
}

PngFile::~PngFile() { release(); }

void PngFile::release() noexcept {
  if (pp) png_destroy_read_struct(&pp, ip ? &ip : nullptr, nullptr);
  pp = nullptr;
  ip = nullptr;
}

bool PngFile::readHeader() noexcept {
  if (setjmp(jmp)) return false;
  pp = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, errorFn, nullptr);
  PLAT_ASSERT(pp);
  ip = png_create_info_struct(pp);
  PLAT_ASSERT(ip);
  // libpng refuses larger images while reading the header, before it
  // allocates anything by their size.
  png_set_user_limits(pp, kMaxDimension, kMaxDimension);
  png_set_read_fn(pp, this, readFn);
  png_read_info(pp, ip);
  png_set_bgr(pp);
  png_set_expand(pp);
  png_set_strip_16(pp);
  png_set_gray_to_rgb(pp);
  png_set_filler(pp, 0, PNG_FILLER_AFTER);
  passes = png_set_interlace_handling(pp);
  png_read_update_info(pp, ip);
  width = static_cast<int32_t>(png_get_image_width(pp, ip));
  height = static_cast<int32_t>(png_get_image_height(pp, ip));
  return true;
}

void PngFile::load(rfb::WritablePixelBuffer* pb, rfb::Point at) {
  PLAT_ASSERT_TEXT(pb->getPf().equal(pf), "pb->getPf().equal(pf)");
  const rfb::Rect r(at.x, at.y, at.x + width, at.y + height);
  int32_t stride = 0;
  uint8_t* first = pb->getPixelsRW(r, &stride);
  if (!first) return;
  if (!readRows(first, ptrdiff_t{stride} * (pf.bpp / 8))) throw PngException("%s: %s", lastError.c_str(), name.c_str());
  if (premultiply && pf.alphaMax != 0) rfb::transRect(*pb, at, *pb, r, rfb::opPremultiply);
}

bool PngFile::readRows(uint8_t* first, ptrdiff_t rowBytes) noexcept {
  if (setjmp(jmp)) return false;
  readAllRows(first, rowBytes);
  return true;
}

// Out of line, so that readRows' frame holds no variable that changes
// after its setjmp.
__attribute__((noinline)) void PngFile::readAllRows(uint8_t* first, ptrdiff_t rowBytes) {
  // An interlaced image arrives in passes; each pass fills in its pixels
  // of the rows already in the buffer.
  for (int pass = 0; pass < passes; ++pass) {
    uint8_t* row = first;
    for (int32_t y = 0; y < height; ++y, row += rowBytes) png_read_row(pp, row, nullptr);
  }
}

void PngFile::errorFn(png_struct_def* p, const char* message) {
  static_cast<PngFile*>(png_get_error_ptr(p))->fail(message);
}

void PngFile::readFn(png_struct_def* p, uint8_t* dest, size_t length) {
  static_cast<PngFile*>(png_get_io_ptr(p))->readData(dest, length);
}

void PngFile::fail(const char* message) {
  lastError = message ? message : "";
  std::longjmp(jmp, 1);
}

void PngFile::readData(uint8_t* dest, size_t length) {
  // Compared as remaining bytes, so that no length wraps the sum.
  if (length > size_t{encodedSize} - position) fail("Bad PNG data");
  std::memcpy(dest, encodedData + position, length);
  position += static_cast<uint32_t>(length);
}

}  // namespace qoutil
