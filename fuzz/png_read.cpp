// qoutil::PngFile over arbitrary bytes: a PNG is either refused with a
// PngException or decoded whole, and a decoded image scales to another
// size.  Images above a million pixels are skipped after the header: a
// hundred bytes may claim 32767 x 32767, which is valid and 4 GiB.

#include <cstddef>
#include <cstdint>

#include "qocore/base/qoutil/ImageScaler.h"
#include "qocore/base/qoutil/PngFile.h"
#include "qocore/base/rfb/PixelBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  try {
    qoutil::PngFile file(static_cast<uint32_t>(size), data, size % 2 == 0, "fuzz");
    const rfb::Size s = file.getSize();
    if (int64_t{s.width} * s.height > 1 << 20) return 0;
    rfb::ManagedPixelBuffer pb(&file);
    const int32_t w = s.width / 2 + 1, h = s.height / 3 + 1;
    rfb::ManagedPixelBuffer out(pb.getPf(), rfb::Rect(0, 0, w, h));
    qoutil::Scaler scaler;
    scaler.coords_.dstSz = {w, h};
    scaler.setSource(&pb, true);
    int32_t stride = 0;
    scaler.getImage(out.getPixelsRW(out.getRect(), &stride), out.getRect(), stride);
  } catch (const qoutil::PngException&) {
    // Refused input.
  }
  return 0;
}
