#include "platform/appkit/Font.h"

#include <cstring>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextMetrics.h"

namespace appkit {

const char* const kSystemFontFamily = "System";

FontDescriptor* FontDescriptor::withFontAttributes(const FontAttributes& attributes) {
  auto* d = new FontDescriptor;
  d->family_ = plat::CharArray(attributes.family ? attributes.family : "");
  d->traits_ = attributes.symbolicTraits;
  d->weight_ = attributes.weight;
  return static_cast<FontDescriptor*>(d->autorelease());
}

double Font::systemFontSize() noexcept { return kSystemFontSize; }

double Font::ascender() const { return textMetrics().ascender(*this); }

Font* Font::systemFontOfSize(double size) {
  return static_cast<Font*>((new Font(size > 0 ? size : kSystemFontSize, 0, 0))->autorelease());
}

Font* Font::boldSystemFontOfSize(double size) {
  return static_cast<Font*>(
      (new Font(size > 0 ? size : kSystemFontSize, kFontWeightBold, kFontBoldTrait))->autorelease());
}

Font* Font::withDescriptor(FontDescriptor* descriptor, double size) {
  if (!descriptor || std::strcmp(descriptor->family(), kSystemFontFamily) != 0) return nullptr;
  return static_cast<Font*>(
      (new Font(size > 0 ? size : kSystemFontSize, descriptor->weight(), descriptor->symbolicTraits()))->autorelease());
}

}  // namespace appkit
