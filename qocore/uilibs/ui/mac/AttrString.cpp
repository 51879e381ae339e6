#include "qocore/uilibs/ui/mac/AttrString.h"

#include <cstring>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Cursor.h"
#include "platform/objc/Number.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/ui/mac/Fonts.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace ui {

namespace {

// Read once, as the platform's system font size is.
const float kDefaultFontSize = static_cast<float>(appkit::Font::systemFontSize());

appkit::Font* systemFont(float size) { return appkit::Font::systemFontOfSize(size == 0 ? kDefaultFontSize : size); }

// Markup alignments (left, centre, right, justified) to the platform's.
int platformAlignment(int markupAlignment) {
  switch (markupAlignment) {
    case plat::Markup::kCenter:
      return appkit::kTextAlignmentCenter;
    case plat::Markup::kRight:
      return appkit::kTextAlignmentRight;
    case plat::Markup::kJustify:
      return appkit::kTextAlignmentJustified;
    default:
      return appkit::kTextAlignmentLeft;
  }
}

}  // namespace

float defaultFontSize() noexcept { return kDefaultFontSize; }

AttrString::AttrString(const char* text, bool font, float size) {
  if (!text) return;
  build(text, nullptr);
  if (font) setFontSize(size);
}

AttrString::AttrString(const char* s, const char* end, bool font, float size) {
  PLAT_ASSERT(s);
  build(s, end);
  if (font) setFontSize(size);
}

AttrString::AttrString(const char* text, const plat::Markup::Style& style, const char* colourName) {
  if (!text) return;
  *this = AttrString(text, nullptr, style, colourName);
}

AttrString::AttrString(const char* s, const char* end, const plat::Markup::Style& style, const char* colourName) {
  PLAT_ASSERT(s);
  build(s, end);
  addAttribute(appkit::kFontAttributeName, fontForStyle(style));
  if (style.flags & plat::Markup::Style::kLink) return;
  if (objc::Object* colour = lookUpStyleColour(style, colourName)) setColour(colour);
  if (style.flags & plat::Markup::Style::kUnderline) setUnderline();
}

AttrString::~AttrString() = default;

void AttrString::build(const char* text, const char* end) {
  PLAT_ASSERT(!end || end >= text);
  size_t length = end ? static_cast<size_t>(end - text) : std::strlen(text);
  objc::Ref<objc::String> s = objc::adopt(objc::String::create(text, length));
  s_ = objc::adopt(new appkit::AttributedString(s));
}

appkit::AttributedString* AttrString::ensure() {
  if (!s_) s_ = objc::adopt(new appkit::AttributedString);
  return s_;
}

objc::Object* AttrString::lookUpStyleColour(const plat::Markup::Style& style, const char* colourName) {
  if (!style.color.isNull()) return getColour(style.color.c_str(), colourName ? colourName : "#808080");
  return colourName ? getColour(colourName, nullptr) : nullptr;
}

void AttrString::setFontSize(float size) { addAttribute(appkit::kFontAttributeName, systemFont(size)); }

void AttrString::setBold(float size) {
  addAttribute(appkit::kFontAttributeName, appkit::Font::boldSystemFontOfSize(size == 0 ? kDefaultFontSize : size));
}

void AttrString::setColour(objc::Object* colour) { addAttribute(appkit::kForegroundColorAttributeName, colour); }

void AttrString::setUnderline() {
  addAttribute(appkit::kUnderlineStyleAttributeName, objc::Number::withLong(appkit::kUnderlineStyleSingle));
}

void AttrString::addAttribute(const char* name, objc::Object* value) {
  if (s_) s_->addAttribute(name, value, s_->wholeRange());
}

void AttrString::addAttributes(const appkit::Attributes& attributes) {
  if (s_) s_->addAttributes(attributes, s_->wholeRange());
}

void AttrString::setLink(const char* url, const char* toolTip, const char* colourName) {
  appkit::Attributes a;
  a.set(appkit::kLinkAttributeName, objc::String::withUtf8(url));
  a.set(appkit::kForegroundColorAttributeName, getColour(colourName, "linkText"));
  a.set(appkit::kUnderlineStyleAttributeName, objc::Number::withLong(appkit::kUnderlineStyleSingle));
  a.set(appkit::kCursorAttributeName, objc::Number::withLong(appkit::kCursorPointingHand));
  if (toolTip) a.set(appkit::kToolTipAttributeName, objc::String::withUtf8(toolTip));
  addAttributes(a);
}

appkit::ParagraphStyle* AttrString::paragraphStyle() const {
  appkit::ParagraphStyle* style = nullptr;
  if (s_ && s_->length())
    style = dynamic_cast<appkit::ParagraphStyle*>(s_->attributeAt(appkit::kParagraphStyleAttributeName, 0));
  if (!style) style = appkit::ParagraphStyle::defaultStyle();
  return static_cast<appkit::ParagraphStyle*>(style->mutableCopy()->autorelease());
}

void AttrString::setParagraphStyle(appkit::ParagraphStyle* style) {
  addAttribute(appkit::kParagraphStyleAttributeName, style);
}

void AttrString::setIndent(float indent) {
  appkit::ParagraphStyle* p = paragraphStyle();
  p->setFirstLineHeadIndent(indent);
  p->setHeadIndent(indent);
  setParagraphStyle(p);
}

void AttrString::setLineSpacing(float spacing) {
  appkit::ParagraphStyle* p = paragraphStyle();
  p->setLineSpacing(spacing);
  setParagraphStyle(p);
}

void AttrString::setLineBreakMode(int mode) {
  appkit::ParagraphStyle* p = paragraphStyle();
  p->setLineBreakMode(mode);
  setParagraphStyle(p);
}

void AttrString::setAlignment(int alignment) {
  appkit::ParagraphStyle* p = paragraphStyle();
  p->setAlignment(alignment);
  setParagraphStyle(p);
}

objc::Object* AttrString::attributeAt0(const char* name) const {
  return s_ && s_->length() ? s_->attributeAt(name, 0) : nullptr;
}

void AttrString::append(const AttrString& other) {
  if (other.s_) ensure()->append(other.s_);
}

AttrStringMarkup::AttrStringMarkup(const char* markup) {
  ensure();
  if (!markup) return;
  objc::AutoreleasePool pool;
  // A failure is logged by the parser; the string keeps what was built.
  (void)plat::Markup::ParserHtml::instance().parse(markup, this);
}

AttrStringMarkup::~AttrStringMarkup() = default;

void AttrStringMarkup::beginParagraph(int alignment, float indent, float tailIndent) {
  alignment_ = alignment;
  indent_ = indent;
  tailIndent_ = tailIndent;
  paragraph_ = AttrString("", false, 0);
}

void AttrStringMarkup::textRun(const plat::Markup::Style& style, const char* text) {
  current_ = style;
  paragraph_.append(AttrString(text ? text : "", style, "contentText"));
}

void AttrStringMarkup::linkRun(const plat::Markup::Style& style, const char* link, const char* text) {
  current_ = style;
  AttrString run(text ? text : "", style, "contentText");
  run.setLink(link ? link : "", text ? text : "", style.color.isNull() ? nullptr : style.color.c_str());
  paragraph_.append(run);
}

void AttrStringMarkup::endParagraph(bool last) {
  const int base = static_cast<int>(kDefaultFontSize);
  const long scaled = static_cast<long>(base) * current_.size;
  const long half = plat::Markup::Style::kNormalSize / 2;
  const float p = static_cast<float>((scaled >= 0 ? scaled + half : scaled - half) / plat::Markup::Style::kNormalSize);
  appkit::ParagraphStyle* style = paragraph_.paragraphStyle();
  style->setFirstLineHeadIndent(indent_ * p);
  style->setHeadIndent(indent_ * p);
  style->setAlignment(platformAlignment(alignment_));
  // Measured back from the trailing margin: a positive tail indent would
  // count from the leading margin and squeeze the paragraph.
  style->setTailIndent(-(tailIndent_ * p));
  paragraph_.setParagraphStyle(style);
  if (!last) {
    paragraph_.append(AttrString("\n", current_, "contentText"));
    paragraph_.append(AttrString("\n", true, p * 0.5f));
  }
  append(paragraph_);
  paragraph_ = AttrString();
}

}  // namespace ui
