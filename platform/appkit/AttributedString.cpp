#include "platform/appkit/AttributedString.h"

#include <algorithm>
#include <cstring>

#include "platform/appkit/Font.h"
#include "platform/objc/Number.h"

namespace appkit {

const char* const kFontAttributeName = "NSFont";
const char* const kForegroundColorAttributeName = "NSColor";
const char* const kBackgroundColorAttributeName = "NSBackgroundColor";
const char* const kUnderlineStyleAttributeName = "NSUnderline";
const char* const kLinkAttributeName = "NSLink";
const char* const kCursorAttributeName = "NSCursor";
const char* const kToolTipAttributeName = "NSToolTip";
const char* const kParagraphStyleAttributeName = "NSParagraphStyle";

namespace {

bool valuesEqual(objc::Object* a, objc::Object* b) noexcept {
  if (a == b) return true;
  if (!a || !b) return false;
  if (auto* fa = dynamic_cast<Font*>(a)) {
    auto* fb = dynamic_cast<Font*>(b);
    return fb && fa->isEqual(*fb);
  }
  if (auto* na = dynamic_cast<objc::Number*>(a)) {
    auto* nb = dynamic_cast<objc::Number*>(b);
    return nb && na->isEqual(*nb);
  }
  if (auto* sa = dynamic_cast<objc::String*>(a)) {
    auto* sb = dynamic_cast<objc::String*>(b);
    return sb && sa->byteLength() == sb->byteLength() && std::memcmp(sa->utf8(), sb->utf8(), sa->byteLength()) == 0;
  }
  if (auto* pa = dynamic_cast<ParagraphStyle*>(a)) {
    auto* pb = dynamic_cast<ParagraphStyle*>(b);
    return pb && pa->isEqual(*pb);
  }
  return false;
}

}  // namespace

void Attributes::set(const char* name, objc::Object* value) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [name](const Entry& e) { return std::strcmp(e.name.c_str(), name) == 0; });
  if (it != entries_.end()) {
    if (value)
      it->value = value;
    else
      entries_.erase(it);
    return;
  }
  if (!value) return;
  auto pos = std::find_if(entries_.begin(), entries_.end(),
                          [name](const Entry& e) { return std::strcmp(e.name.c_str(), name) > 0; });
  entries_.insert(pos, Entry{plat::CharArray(name), value});
}

objc::Object* Attributes::get(const char* name) const noexcept {
  for (const Entry& e : entries_)
    if (std::strcmp(e.name.c_str(), name) == 0) return e.value;
  return nullptr;
}

void Attributes::merge(const Attributes& other) {
  for (const Entry& e : other.entries_) set(e.name.c_str(), e.value);
}

bool Attributes::operator==(const Attributes& other) const noexcept {
  if (entries_.size() != other.entries_.size()) return false;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (std::strcmp(entries_[i].name.c_str(), other.entries_[i].name.c_str()) != 0 ||
        !valuesEqual(entries_[i].value, other.entries_[i].value))
      return false;
  return true;
}

ParagraphStyle* ParagraphStyle::defaultStyle() {
  static ParagraphStyle* const style = new ParagraphStyle;
  return style;
}

ParagraphStyle* ParagraphStyle::mutableCopy() const {
  auto* copy = new ParagraphStyle;
  copy->alignment_ = alignment_;
  copy->firstLineHeadIndent_ = firstLineHeadIndent_;
  copy->headIndent_ = headIndent_;
  copy->tailIndent_ = tailIndent_;
  copy->lineSpacing_ = lineSpacing_;
  copy->lineBreakMode_ = lineBreakMode_;
  return copy;
}

bool ParagraphStyle::isEqual(const ParagraphStyle& o) const noexcept {
  return alignment_ == o.alignment_ && firstLineHeadIndent_ == o.firstLineHeadIndent_ && headIndent_ == o.headIndent_ &&
         tailIndent_ == o.tailIndent_ && lineSpacing_ == o.lineSpacing_ && lineBreakMode_ == o.lineBreakMode_;
}

AttributedString::AttributedString(objc::String* string, const Attributes& attributes) {
  if (string) units_ = string->characters();
  if (!units_.empty()) runs_.push_back(Run{units_.size(), attributes});
}

AttributedString* AttributedString::withUtf8(const char* text, const Attributes& attributes) {
  objc::String* s = objc::String::withUtf8(text);
  return static_cast<AttributedString*>((new AttributedString(s, attributes))->autorelease());
}

objc::String* AttributedString::string() const {
  objc::String* s = objc::String::fromUtf16(units_.data(), units_.size());
  if (!s) s = objc::String::create("", 0);
  return static_cast<objc::String*>(s->autorelease());
}

const Attributes& AttributedString::attributesAt(size_t index, Range* effectiveRange) const {
  static const Attributes kNone;
  size_t start = 0;
  for (const Run& r : runs_) {
    if (index < start + r.length) {
      if (effectiveRange) *effectiveRange = Range{start, r.length};
      return r.attributes;
    }
    start += r.length;
  }
  if (effectiveRange) *effectiveRange = Range{units_.size(), 0};
  return kNone;
}

objc::Object* AttributedString::attributeAt(const char* name, size_t index, Range* effectiveRange) const {
  return attributesAt(index, effectiveRange).get(name);
}

std::vector<Range> AttributedString::runs() const {
  std::vector<Range> out;
  size_t start = 0;
  for (const Run& r : runs_) {
    out.push_back(Range{start, r.length});
    start += r.length;
  }
  return out;
}

Range AttributedString::clamp(Range range) const noexcept {
  size_t n = units_.size();
  size_t location = std::min(range.location, n);
  return Range{location, std::min(range.length, n - location)};
}

size_t AttributedString::splitAt(size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < runs_.size(); ++i) {
    if (index == start) return i;
    if (index < start + runs_[i].length) {
      Run tail{start + runs_[i].length - index, runs_[i].attributes};
      runs_[i].length = index - start;
      runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
      return i + 1;
    }
    start += runs_[i].length;
  }
  return runs_.size();
}

void AttributedString::coalesce() {
  std::vector<Run> merged;
  for (Run& r : runs_) {
    if (r.length == 0) continue;
    if (!merged.empty() && merged.back().attributes == r.attributes)
      merged.back().length += r.length;
    else
      merged.push_back(std::move(r));
  }
  runs_ = std::move(merged);
}

template <class F>
void AttributedString::forRuns(Range range, F apply) {
  range = clamp(range);
  if (range.length == 0) return;
  size_t first = splitAt(range.location);
  size_t last = splitAt(range.end());
  for (size_t i = first; i < last; ++i) apply(runs_[i].attributes);
  coalesce();
  edited();
}

AttributedString* AttributedString::substring(Range range) const {
  range = clamp(range);
  auto* out = new AttributedString;
  out->units_.assign(units_.begin() + static_cast<std::ptrdiff_t>(range.location),
                     units_.begin() + static_cast<std::ptrdiff_t>(range.end()));
  size_t start = 0;
  for (const Run& r : runs_) {
    size_t from = std::max(start, range.location);
    size_t to = std::min(start + r.length, range.end());
    if (from < to) out->runs_.push_back(Run{to - from, r.attributes});
    start += r.length;
  }
  return static_cast<AttributedString*>(out->autorelease());
}

AttributedString* AttributedString::mutableCopy() const {
  auto* out = new AttributedString;
  out->units_ = units_;
  out->runs_ = runs_;
  return out;
}

void AttributedString::setAttributes(const Attributes& attributes, Range range) {
  forRuns(range, [&](Attributes& a) { a = attributes; });
}

void AttributedString::addAttribute(const char* name, objc::Object* value, Range range) {
  forRuns(range, [&](Attributes& a) { a.set(name, value); });
}

void AttributedString::addAttributes(const Attributes& attributes, Range range) {
  forRuns(range, [&](Attributes& a) { a.merge(attributes); });
}

void AttributedString::removeAttribute(const char* name, Range range) {
  forRuns(range, [&](Attributes& a) { a.remove(name); });
}

void AttributedString::replaceCharacters(Range range, objc::String* string) {
  range = clamp(range);
  Attributes attributes;
  if (range.length)
    attributes = attributesAt(range.location);
  else if (range.location > 0)
    attributes = attributesAt(range.location - 1);
  else if (!units_.empty())
    attributes = attributesAt(0);
  objc::Ref<AttributedString> piece = objc::adopt(new AttributedString(string, attributes));
  replaceCharacters(range, piece.get());
}

void AttributedString::replaceCharacters(Range range, const AttributedString* string) {
  range = clamp(range);
  // A copy first: the string may be this one.
  std::vector<uint16_t> units = string ? string->units_ : std::vector<uint16_t>{};
  std::vector<Run> runs = string ? string->runs_ : std::vector<Run>{};
  size_t first = splitAt(range.location);
  size_t last = splitAt(range.end());
  runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(first), runs_.begin() + static_cast<std::ptrdiff_t>(last));
  runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(first), runs.begin(), runs.end());
  units_.erase(units_.begin() + static_cast<std::ptrdiff_t>(range.location),
               units_.begin() + static_cast<std::ptrdiff_t>(range.end()));
  units_.insert(units_.begin() + static_cast<std::ptrdiff_t>(range.location), units.begin(), units.end());
  coalesce();
  edited();
}

void AttributedString::setAttributedString(const AttributedString* string) { replaceCharacters(wholeRange(), string); }

}  // namespace appkit
