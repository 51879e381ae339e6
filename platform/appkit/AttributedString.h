#pragma once
// Stands in for the platform's attributed strings and paragraph styles.
// An attributed string is UTF-16 text (indexes and ranges count UTF-16
// units, as the platform's do) split into runs, each with a set of
// attributes: a name and an object value, retained.  Adjacent runs with
// equal attributes are one run, so reading the attributes at an index
// gives the longest range over which they hold.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"
#include "platform/objc/String.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

class Font;

// The attribute names.  Values: font a Font; colours the colour objects;
// underline style an objc::Number (Constants.h's UnderlineStyle); link an
// objc::String (the URL); cursor an objc::Number holding a CursorKind
// (Cursor.h); tool tip an objc::String;
// paragraph style a ParagraphStyle.
extern const char* const kFontAttributeName;
extern const char* const kForegroundColorAttributeName;
extern const char* const kBackgroundColorAttributeName;
extern const char* const kUnderlineStyleAttributeName;
extern const char* const kLinkAttributeName;
extern const char* const kCursorAttributeName;
extern const char* const kToolTipAttributeName;
extern const char* const kParagraphStyleAttributeName;

// A set of attributes (the platform's attribute dictionary): names with
// retained values, at most one value per name.
class Attributes {
 public:
  Attributes() = default;
  Attributes(const Attributes& other) = default;
  Attributes& operator=(const Attributes& other) = default;
  Attributes(Attributes&& other) noexcept = default;
  Attributes& operator=(Attributes&& other) noexcept = default;
  ~Attributes() = default;

  // Sets (null: removes) the value of a name.
  void set(const char* name, objc::Object* value);
  void remove(const char* name) { set(name, nullptr); }
  objc::Object* get(const char* name) const noexcept;
  // Every entry of `other` replaces or joins ours.
  void merge(const Attributes& other);
  size_t count() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  // The same names with equal values (fonts, numbers, strings and
  // paragraph styles by value, other objects by identity).
  bool operator==(const Attributes& other) const noexcept;

 private:
  struct Entry {
    plat::CharArray name;
    objc::Ref<objc::Object> value;
  };
  std::vector<Entry> entries_;
};

// Paragraph settings.  Indents are in points: the first line starts at the
// first-line head indent, the others at the head indent, from the leading
// margin; a positive tail indent is where lines end, measured from the
// leading margin, while 0 or a negative one is measured back from the
// trailing margin.
class ParagraphStyle : public objc::Object {
 public:
  // The shared default style (never released).
  static ParagraphStyle* defaultStyle();
  // mutableCopy: a new style (one reference, the caller's).
  ParagraphStyle* mutableCopy() const;

  int alignment() const noexcept { return alignment_; }
  void setAlignment(int alignment) noexcept { alignment_ = alignment; }
  double firstLineHeadIndent() const noexcept { return firstLineHeadIndent_; }
  void setFirstLineHeadIndent(double indent) noexcept { firstLineHeadIndent_ = indent; }
  double headIndent() const noexcept { return headIndent_; }
  void setHeadIndent(double indent) noexcept { headIndent_ = indent; }
  double tailIndent() const noexcept { return tailIndent_; }
  void setTailIndent(double indent) noexcept { tailIndent_ = indent; }
  double lineSpacing() const noexcept { return lineSpacing_; }
  void setLineSpacing(double spacing) noexcept { lineSpacing_ = spacing; }
  // Line-break mode 0 wraps at words; kLineBreakByTruncatingTail
  // (Constants.h) keeps each paragraph on one line.
  int lineBreakMode() const noexcept { return lineBreakMode_; }
  void setLineBreakMode(int mode) noexcept { lineBreakMode_ = mode; }

  bool isEqual(const ParagraphStyle& other) const noexcept;

 protected:
  ~ParagraphStyle() override = default;

 private:
  int alignment_ = 4;  // natural
  double firstLineHeadIndent_ = 0;
  double headIndent_ = 0;
  double tailIndent_ = 0;
  double lineSpacing_ = 0;
  int lineBreakMode_ = 0;
};

class AttributedString : public objc::Object {
 public:
  // initWithString:attributes: (one reference, the caller's); a null
  // string is empty.
  explicit AttributedString(objc::String* string = nullptr, const Attributes& attributes = {});
  // The same from UTF-8 text; malformed text gives an empty string.
  static AttributedString* withUtf8(const char* text, const Attributes& attributes = {});

  // The length in UTF-16 units.
  size_t length() const noexcept { return units_.size(); }
  const std::vector<uint16_t>& characters() const noexcept { return units_; }
  // The plain text (autoreleased).
  objc::String* string() const;
  // The attributes at an index (which must be below the length) and,
  // when asked, the range of the run holding it.
  const Attributes& attributesAt(size_t index, Range* effectiveRange = nullptr) const;
  // One attribute at an index; null past the end or when absent.
  objc::Object* attributeAt(const char* name, size_t index, Range* effectiveRange = nullptr) const;
  // The runs' ranges in order.
  std::vector<Range> runs() const;
  // attributedSubstringFromRange: (autoreleased); clamped to the string.
  AttributedString* substring(Range range) const;

  // mutableCopy: a new string (one reference, the caller's).
  AttributedString* mutableCopy() const;

  // Mutations; ranges are clamped to the string.
  void setAttributes(const Attributes& attributes, Range range);
  void addAttribute(const char* name, objc::Object* value, Range range);
  void addAttributes(const Attributes& attributes, Range range);
  void removeAttribute(const char* name, Range range);
  // Replaces the units of the range by the string's; the new text takes
  // the attributes of the first replaced unit (or of the unit before the
  // range when it is empty, or none in an empty string).
  void replaceCharacters(Range range, objc::String* string);
  // Replaces the units of the range by a copy of the attributed string.
  void replaceCharacters(Range range, const AttributedString* string);
  void append(const AttributedString* string) { replaceCharacters(Range{length(), 0}, string); }
  void setAttributedString(const AttributedString* string);
  // The whole range.
  Range wholeRange() const noexcept { return Range{0, length()}; }

  // Called after each change of the text or the attributes.
  virtual void edited() {}

 protected:
  ~AttributedString() override = default;

 private:
  struct Run {
    size_t length;
    Attributes attributes;
  };
  Range clamp(Range range) const noexcept;
  // Splits runs so that a run boundary lies at `index`; returns the index
  // of the run starting there (runs_.size() at the end).
  size_t splitAt(size_t index);
  void coalesce();
  template <class F>
  void forRuns(Range range, F apply);

  std::vector<uint16_t> units_;
  std::vector<Run> runs_;
};

// A class that answers setAttributedTitle:.
class AttributedTitleSetter {
 public:
  virtual ~AttributedTitleSetter() = default;
  virtual void setAttributedTitle(const AttributedString* title) = 0;
};

// The platform's mutable attributed string is the same class here.
using MutableAttributedString = AttributedString;

}  // namespace appkit
