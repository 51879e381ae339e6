#pragma once
// Stands in for the platform's fonts and font descriptors.  One family is
// installed, the system family; a font is that family at a point size with
// a weight (the platform's scale: 0 regular, 0.4 bold, -0.8 to 0.62 in
// all) and symbolic traits (italic, bold).  Fonts carry no glyphs: text is
// measured through TextMetrics.h.

#include <cstdint>

#include "platform/objc/Object.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

// The name of the system font's family.
extern const char* const kSystemFontFamily;
// The weight value of a bold font.
constexpr double kFontWeightBold = 0.4;

// What a descriptor describes: a family, symbolic traits (FontTrait,
// Constants.h) and a weight; as the platform's attribute dictionary with
// the family and the traits' symbolic and weight entries.
struct FontAttributes {
  const char* family = nullptr;
  uint32_t symbolicTraits = 0;
  double weight = 0;
};

class FontDescriptor : public objc::Object {
 public:
  // fontDescriptorWithFontAttributes:: autoreleased.
  static FontDescriptor* withFontAttributes(const FontAttributes& attributes);

  const char* family() const noexcept { return family_.c_str(); }
  uint32_t symbolicTraits() const noexcept { return traits_; }
  double weight() const noexcept { return weight_; }

 private:
  FontDescriptor() = default;
  ~FontDescriptor() override = default;

  plat::CharArray family_;
  uint32_t traits_ = 0;
  double weight_ = 0;
};

class Font : public objc::Object {
 public:
  // The size of the system font (Metrics.h).
  static double systemFontSize() noexcept;
  // Autoreleased fonts of the system family; a size of 0 or less is the
  // system font size.
  static Font* systemFontOfSize(double size);
  static Font* boldSystemFontOfSize(double size);
  // fontWithDescriptor:size:: autoreleased; null when the descriptor's
  // family is not installed.
  static Font* withDescriptor(FontDescriptor* descriptor, double size);

  const char* familyName() const noexcept { return kSystemFontFamily; }
  double pointSize() const noexcept { return size_; }
  double weight() const noexcept { return weight_; }
  uint32_t symbolicTraits() const noexcept { return traits_; }
  bool isItalic() const noexcept { return (traits_ & 1u) != 0; }
  // Bold traits or a weight above regular: such text is set wider.
  bool isBold() const noexcept { return (traits_ & 2u) != 0 || weight_ > 0; }
  // The height above the baseline of the font's tallest letters, in
  // points (TextMetrics.h).
  double ascender() const;
  // The same size, weight and traits.
  bool isEqual(const Font& other) const noexcept {
    return size_ == other.size_ && weight_ == other.weight_ && traits_ == other.traits_;
  }

 private:
  Font(double size, double weight, uint32_t traits) noexcept : size_(size), weight_(weight), traits_(traits) {}
  ~Font() override = default;

  double size_;
  double weight_;
  uint32_t traits_;
};

}  // namespace appkit
