// The BED decoder.  The input is decoded as a value of any class; a value
// that decodes encodes again to bytes that decode to the same encoding.
// The text form of the input (as a map) never throws, and a span that
// findKeyRaw answers lies inside the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "libs/hosted/Bed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const int32_t count = static_cast<int32_t>(size);

  try {
    hosted::BedReader reader(count, data);
    hosted::BedRef value = hosted::BedValue::decode(reader, nullptr, false);
    hosted::BedValue::toString(*value);
    const plat::Buffer once = hosted::BedValue::encodeToBuffer(*value);
    hosted::BedRef again = hosted::BedValue::clone(*value);
    const plat::Buffer twice = hosted::BedValue::encodeToBuffer(*again);
    if (once.count() != twice.count() || std::memcmp(once.data(), twice.data(), size_t(once.count())) != 0)
      std::abort();
  } catch (const plat::Exception&) {
  }

  if (!hosted::Bed::toString(count, data, hosted::kBedContentType)) std::abort();

  for (const char* key : {"a", "any/application-data", ""}) {
    try {
      const hosted::BedSpan span = hosted::Bed::findKeyRaw(count, data, key);
      if (span.length < 0 || span.data < data || span.data + span.length > data + size) std::abort();
    } catch (const plat::Exception&) {
    }
  }
  return 0;
}
