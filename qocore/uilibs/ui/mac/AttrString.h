#pragma once
// Styled text for the macOS peers: ui::AttrString owns one mutable
// attributed string and applies fonts, colours, underline, links and
// paragraph settings to the whole of it; ui::AttrStringMarkup builds one
// from the toolkit's markup, paragraph by paragraph.

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Font.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/Markup.h"

namespace ui {

// The size of text set at size 0: the system font size, read once.
float defaultFontSize() noexcept;

class AttrString {
 public:
  // No string.
  AttrString() noexcept = default;
  // The text (null: no string) as a string; with `font`, in the system
  // font of the size (0: the default size).
  AttrString(const char* text, bool font, float size);
  // text[0, end) (end null: up to the NUL), which must be given.
  AttrString(const char* text, const char* end, bool font, float size);
  // The text (null: no string) in the style's font; unless the style is a
  // link's, in the style's colour (see lookUpStyleColour) and underlined
  // when the style says so.
  AttrString(const char* text, const plat::Markup::Style& style, const char* colourName);
  AttrString(const char* text, const char* end, const plat::Markup::Style& style, const char* colourName);
  AttrString(AttrString&& other) noexcept = default;
  AttrString& operator=(AttrString&& other) noexcept = default;
  AttrString(const AttrString&) = delete;
  AttrString& operator=(const AttrString&) = delete;
  virtual ~AttrString();

  appkit::AttributedString* get() const noexcept { return s_; }
  explicit operator bool() const noexcept { return static_cast<bool>(s_); }
  // The string's length in UTF-16 units (0 without one).
  size_t length() const noexcept { return s_ ? s_->length() : 0; }

  // Each applies to the whole string; nothing without one.
  void setFontSize(float size);
  void setBold(float size);
  void setColour(objc::Object* colour);
  void setUnderline();
  void addAttribute(const char* name, objc::Object* value);
  void addAttributes(const appkit::Attributes& attributes);
  // A link to the URL in the named colour (fallback "linkText"),
  // underlined, with the pointing-hand cursor and, when given, the tool
  // tip.
  void setLink(const char* url, const char* toolTip, const char* colourName);
  // A copy of the paragraph style at index 0, or of the default one
  // (autoreleased).
  appkit::ParagraphStyle* paragraphStyle() const;
  void setIndent(float indent);
  void setLineSpacing(float spacing);
  void setLineBreakMode(int mode);
  void setAlignment(int alignment);
  void setParagraphStyle(appkit::ParagraphStyle* style);
  // The value at index 0; null for an empty string.
  objc::Object* attributeAt0(const char* name) const;
  // Appends another string (which keeps its own).
  void append(const AttrString& other);

  // The colour of a styled run: the style's colour with the name as
  // fallback (or "#808080" without a name); without one in the style, the
  // named colour.
  static objc::Object* lookUpStyleColour(const plat::Markup::Style& style, const char* colourName);

 protected:
  // Makes the string when there is none yet.
  appkit::AttributedString* ensure();

 private:
  void build(const char* text, const char* end);
  objc::Ref<appkit::AttributedString> s_;
};

// Markup as one attributed string.
class AttrStringMarkup : public plat::Markup::Handler, public AttrString {
 public:
  // Parses the markup (null: none) into the string; invalid markup is
  // logged by the parser and leaves what was built.
  explicit AttrStringMarkup(const char* markup);
  ~AttrStringMarkup() override;

  void beginParagraph(int alignment, float indent, float tailIndent) override;
  void endParagraph(bool last) override;
  void textRun(const plat::Markup::Style& style, const char* text) override;
  void linkRun(const plat::Markup::Style& style, const char* link, const char* text) override;
  void end() override {}

 private:
  AttrString paragraph_;
  plat::Markup::Style current_;
  float indent_ = 0;
  float tailIndent_ = 0;
  int alignment_ = 0;
};

}  // namespace ui
