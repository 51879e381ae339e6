#include "qocore/base/plat/Markup.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>

#include "qocore/base/os/mac/OpenUrl.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/xml/CharEncoding.h"
#include "qocore/base/xml/Parser.h"
#include "qocore/base/xml/TextBuffer.h"

namespace plat {

namespace {
PLAT_LOG_SOURCE(vlog, "MarkupParser");
}  // namespace

namespace Markup {

namespace {

bool equalNoCase(const char* a, const char* b) { return a != nullptr && ::strcasecmp(a, b) == 0; }

// The percentage of a size, 120 being 100 %; rounded, truncating toward
// zero.  Computed wide: the size may come from the markup.
int64_t sizePercent(int32_t size) {
  int64_t wide = size;
  return size >= 0 ? (wide * 100 + 60) / 120 : (wide * 100 - 60) / 120;
}

// The leading decimal integer of a value, as plat::parseInt reads it.
bool leadingInt(const char* value, int32_t& out, const char** after = nullptr) {
  const char* cursor = value;
  if (!parseInt(out, cursor, 10)) return false;
  if (after) *after = cursor;
  return true;
}

const char* trimmed(char* value) {
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (isBlank(*value)) ++value;
  char* end = value + std::strlen(value);
  while (end > value && isBlank(end[-1])) --end;
  *end = '\0';
  return value;
}

// Calls fn(key, value) for each declaration of a "style" value: split at
// ";" and then at the first ":", empty pieces skipped, the value trimmed.
template <typename Fn>
void forEachDeclaration(const char* styleText, Fn fn) {
  if (styleText == nullptr) return;
  CharArray copy(styleText);
  char* cursor = copy.get();
  while (cursor != nullptr) {
    char* declaration = cursor;
    char* semicolon = std::strchr(cursor, ';');
    if (semicolon) {
      *semicolon = '\0';
      cursor = semicolon + 1;
    } else {
      cursor = nullptr;
    }
    char* colon = std::strchr(declaration, ':');
    char* value = declaration + std::strlen(declaration);
    if (colon) {
      *colon = '\0';
      value = colon + 1;
    }
    const char* key = trimmed(declaration);
    if (*key == '\0') continue;
    fn(key, trimmed(value));
  }
}

// A declaration of a run's style; keys are recognised by what they contain.
void applyDeclaration(Style& style, const char* key, const char* value) {
  int32_t n;
  if (std::strstr(key, "font-style")) {
    if (std::strcmp(value, "normal") == 0) {
      style.flags = 0;
    } else if (std::strcmp(value, "italic") == 0) {
      style.flags |= Style::kItalic;
    }
  } else if (std::strstr(key, "font-size")) {
    const char* after;
    if (!leadingInt(value, n, &after)) return;
    if (*after != '%') {
      style.size = n;
      return;
    }
    int64_t wide = n;
    int64_t size = n >= 0 ? (wide * 120 + 50) / 100 : (wide * 120 - 50) / 100;
    // A percentage whose size does not fit is ignored like a value that is
    // not a number.
    if (size >= INT32_MIN && size <= INT32_MAX) style.size = static_cast<int32_t>(size);
  } else if (std::strstr(key, "font-weight")) {
    style.weight = leadingInt(value, n) ? n : 0;
  } else if (std::strstr(key, "text-decoration")) {
    if (std::strcmp(value, "underline") == 0) style.flags |= Style::kUnderline;
  } else if (std::strstr(key, "background-color")) {
    // Tested before "color", which it contains: the style builders write a
    // run's background under this key.
    style.background = value;
  } else if (std::strstr(key, "color")) {
    style.color = value;
  }
}

void applyStyle(Style& style, const char* styleText) {
  forEachDeclaration(styleText, [&](const char* key, const char* value) { applyDeclaration(style, key, value); });
}

float parseFloat(const char* value) {
  float result = 0;
  if (*value == '+') ++value;
  (void)std::from_chars(value, value + std::strlen(value), result);
  return result;
}

// The walk over the parsed body.
class Walker {
 public:
  explicit Walker(Recording& recording) : recording_(recording) {}

  void walkBody(const xml::Node& body) {
    Style inherited;
    walk(body, inherited);
    if (!current_.runs.empty()) recording_.push_back(std::move(current_));
  }

 private:
  void finishParagraph() {
    recording_.push_back(std::move(current_));
    current_ = Paragraph();
  }

  void walk(const xml::Node& element, Style& inherited) {
    Style own = inherited;
    const char* name = element.name();
    const bool isLink = equalNoCase(name, "a");
    const bool attributesAllowed = isLink || equalNoCase(name, "div") || equalNoCase(name, "span") ||
                                   equalNoCase(name, "ul") || equalNoCase(name, "li") || equalNoCase(name, "body");
    for (int i = 0, n = element.attributeCount(); i < n; ++i) {
      xml::Attribute attribute = element.attributeAt(i);
      const char* value = attribute.value ? attribute.value : "";
      if (equalNoCase(attribute.name, "style")) {
        applyStyle(own, value);
      } else if (equalNoCase(attribute.name, "color")) {
        own.color = value;
        inherited.color = value;
      } else if (equalNoCase(attribute.name, "size")) {
        int32_t size;
        if (!leadingInt(value, size)) size = 0;
        own.size = size;
        inherited.size = size;
      } else if (!attributesAllowed) {
        throw ExceptionFmt("Unexpected attribute (%s = %s)", attribute.name, value);
      }
    }

    // A special section (a CDATA block, a comment the parser kept) is
    // nothing the markup writes.
    if (element.clearCount() > 0) throw ExceptionFmt("Unexpected node type %d", static_cast<int>(xml::kClearItem));
    int children = 0, texts = 0;
    for (;;) {
      int childPosition = element.positionOf(xml::kElementItem, children);
      int textPosition = element.positionOf(xml::kTextItem, texts);
      if (childPosition < 0 && textPosition < 0) break;
      if (textPosition >= 0 && (childPosition < 0 || textPosition < childPosition)) {
        addText(element.textAt(texts++), own, isLink ? element.attribute("href") : nullptr);
      } else {
        walkChild(element.childAt(children++), inherited, own);
      }
    }
  }

  void addText(const char* text, const Style& own, const char* link) {
    Run run;
    run.text.append(text);
    run.style = own;
    if (link) {
      run.link = link;
      run.style.flags |= Style::kLink;
    }
    current_.runs.push_back(std::move(run));
  }

  void walkChild(const xml::Node& child, Style& inherited, Style& own) {
    const char* name = child.name();
    if (equalNoCase(name, "div")) {
      if (!current_.runs.empty()) {
        finishParagraph();
        inherited = Style();
      }
      forEachDeclaration(child.attribute("style"), [&](const char* key, const char* value) {
        if (std::strcmp(key, "text-align") == 0) {
          if (std::strcmp(value, "right") == 0) {
            current_.alignment = kRight;
          } else if (std::strcmp(value, "center") == 0) {
            current_.alignment = kCenter;
          } else if (std::strcmp(value, "justify") == 0) {
            current_.alignment = kJustify;
          }
        } else if (std::strcmp(key, "padding-left") == 0) {
          current_.leftPadding = parseFloat(value);
        } else if (std::strcmp(key, "padding-right") == 0) {
          current_.rightPadding = parseFloat(value);
        } else {
          applyDeclaration(inherited, key, value);
        }
      });
      walk(child, inherited);
      finishParagraph();
      inherited = Style();
      return;
    }
    if (equalNoCase(name, "span")) {
      applyStyle(inherited, child.attribute("style"));
      walk(child, inherited);
      inherited = Style();
      return;
    }
    if (equalNoCase(name, "font") || equalNoCase(name, "ul")) {
      walk(child, own);
    } else if (equalNoCase(name, "br")) {
      if (current_.runs.empty()) {
        current_.runs.emplace_back();
        current_.runs.back().text.append("\n");
      } else {
        current_.runs.back().text.append("\n");
      }
    } else if (equalNoCase(name, "li")) {
      if (!current_.runs.empty()) {
        DString& last = current_.runs.back().text;
        if (last.empty() || last.c_str()[last.length() - 1] != '\n') last.append("\n");
        last.append("\xe2\x80\xa2 ");
      }
      walk(child, own);
    } else if (equalNoCase(name, "b")) {
      own.weight = Style::kBoldWeight;
      walk(child, own);
    } else if (equalNoCase(name, "i")) {
      own.flags |= Style::kItalic;
      walk(child, own);
    } else if (equalNoCase(name, "u")) {
      own.flags |= Style::kUnderline;
      walk(child, own);
    } else if (equalNoCase(name, "a")) {
      if (!child.hasAttribute("href")) throw Exception("Invalid hyperlink spec!");
      walk(child, own);
    } else {
      throw ExceptionFmt("Unexpected tag %s", name ? name : "");
    }
    own = inherited;
  }

  Recording& recording_;
  Paragraph current_;
};

}  // namespace

// ---- Style ----

bool Style::isPlain() const noexcept {
  return flags == 0 && size == kNormalSize && weight == kNormalWeight && color.isNull() && background.isNull();
}

void Style::appendText(DString& out) const {
  out.appendf("font-size:%lld%%;font-weight:%d;", static_cast<long long>(sizePercent(size)), weight);
  if (flags & kItalic) out.append("font-style:italic;");
  if (flags & kUnderline) out.append("text-decoration:underline;");
  if (color) out.appendf("color:%s;", color.get());
  if (background) out.appendf("background-color:%s;", background.get());
}

// ---- Interfaces ----

Handler::~Handler() = default;
Parser::~Parser() = default;
LinkCallback::~LinkCallback() = default;
Layout::Target::~Target() = default;

// ---- Parser ----

ParserHtml& ParserHtml::instance() {
  static ParserHtml* const parser = new ParserHtml;
  return *parser;
}

void ParserHtml::parseInto(const char* text, Recording& recording) {
  DString document("%s\n<body class=\"mui-markup\">%s</body>", "<?xml version=\"1.0\"?>\n", text ? text : "");
  // White space is part of the text here; the options every other parse
  // expects come back on every path.
  (void)xml::setGlobalOptions(xml::kUtf8, true, false, true);
  xml::Node body;
  xml::ParseResults results;
  {
    ScopeExit restore([] { (void)xml::setGlobalOptions(xml::kUtf8, true, true, true); });
    body = xml::parseText(document.c_str(), "body", &results);
  }
  if (results.error != 0) {
    throw Exception("XML error %i:%i %s", results.line, results.column, xml::errorText(results.error));
  }
  Walker(recording).walkBody(body);
}

bool ParserHtml::parse(const char* text, Handler* handler) {
  Recording recording;
  try {
    parseInto(text, recording);
  } catch (const Exception& e) {
    vlog().error("Invalid markup (%s): ### %s ###", e.str(), text ? text : "");
    return false;
  }
  if (!handler) return true;
  for (size_t i = 0; i < recording.size(); ++i) {
    const Paragraph& paragraph = recording[i];
    handler->beginParagraph(paragraph.alignment, paragraph.leftPadding, paragraph.rightPadding);
    for (const Run& run : paragraph.runs) {
      if (run.link) {
        handler->linkRun(run.style, run.link.get(), run.text.c_str());
      } else {
        handler->textRun(run.style, run.text.c_str());
      }
    }
    handler->endParagraph(i + 1 == recording.size());
  }
  handler->end();
  return true;
}

// ---- Stripper ----

Stripper::Stripper(const char* text) {
  reserve((text ? static_cast<int>(std::min<size_t>(std::strlen(text), INT_MAX - 1)) : 0) + 1);
  (void)ParserHtml::instance().parse(text, this);
}

void Stripper::textRun(const Style&, const char* text) { append(text); }

void Stripper::linkRun(const Style&, const char* link, const char* text) { append(text && *text ? text : link); }

// ---- Builders ----

DString& appendEscaped(DString& out, const char* text) {
  if (text == nullptr) return out;
  xml::TextBuffer escaped;
  return out.append(escaped.setEscaped(text));
}

DString& span(DString& out, const char* text, const Style& style) {
  if (style.isPlain()) return out.append(text);
  DString styleText;
  style.appendText(styleText);
  return out.appendf("<span style=\"%s\">%s</span>", styleText.c_str(), text ? text : "");
}

DString& escapedSpan(DString& out, const char* text, const Style& style) {
  DString escaped;
  appendEscaped(escaped, text);
  return span(out, escaped.c_str(), style);
}

DString& coloredSpan(DString& out, const char* text, const char* color, int size) {
  if (color == nullptr && size == Style::kNormalSize) return out.append(text);
  Style style;
  style.color = color;
  style.size = size;
  return span(out, text, style);
}

DString& coloredSpanEscaped(DString& out, const char* text, const char* color, int size) {
  DString escaped;
  appendEscaped(escaped, text);
  return coloredSpan(out, escaped.c_str(), color, size);
}

DString& bold(DString& out, const char* text, const char* color, int size) {
  DString inner("<b>");
  appendEscaped(inner, text).append("</b>");
  return coloredSpan(out, inner.c_str(), color, size);
}

DString& div(DString& out, int alignment, const Style* style) {
  static const char* const kAlignments[] = {"left", "center", "right"};
  out.appendf("<div style=\"text-align:%s", alignment >= 0 && alignment <= 2 ? kAlignments[alignment] : "justify");
  if (style) {
    out.append(";");
    style->appendText(out);
  }
  return out.append("\">");
}

namespace {
template <typename StyleFn>
DString& appendLink(DString& out, const char* text, const char* target, StyleFn writeStyle) {
  out.append("<a href=\"");
  appendEscaped(out, target).append("\"");
  writeStyle();
  out.append(">");
  return appendEscaped(out, text ? text : target).append("</a>");
}
}  // namespace

DString& link(DString& out, const char* text, const char* target, const char* color) {
  return appendLink(out, text, target, [&] {
    if (color) out.appendf(" style=\"color:%s\"", color);
  });
}

DString& styledLink(DString& out, const char* text, const char* target, const Style& style) {
  return appendLink(out, text, target, [&] {
    out.append(" style=\"");
    style.appendText(out);
    out.append("\"");
  });
}

// ---- Layout ----

namespace {
bool isWhiteSpace(char c) { return c == ' ' || c == '\t'; }

int clampToInt(int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX)); }

// The number of bytes of the first `chars` characters of [text, end).
int charBytes(const char* text, const char* end, int chars) {
  const char* p = text;
  for (int i = 0; i < chars && p < end; ++i) {
    ++p;
    while (p < end && (static_cast<unsigned char>(*p) & 0xc0) == 0x80) ++p;
  }
  return static_cast<int>(p - text);
}
}  // namespace

Layout::Layout(Target& target, int maxWidth) : target_(target), maxWidth_(maxWidth > 0 ? maxWidth : INT_MAX) {}

void Layout::beginParagraph(int alignment, float leftPadding, float rightPadding) {
  target_.beginParagraph(alignment, leftPadding, rightPadding);
  const double unit = target_.unitSize();
  leftIndent_ = clampToInt(static_cast<int64_t>(std::clamp<double>(leftPadding * unit, INT_MIN, INT_MAX)));
  rightIndent_ = clampToInt(static_cast<int64_t>(std::clamp<double>(rightPadding * unit, INT_MIN, INT_MAX)));
  available_ = clampToInt(int64_t{maxWidth_} - leftIndent_ - rightIndent_);
  penX_ = leftIndent_;
  if (paragraphs_ > 0) {
    lineTop_ = clampToInt(int64_t{lineTop_} + target_.paragraphSpacing() + lineHeight_);
    lineHeight_ = 0;
  }
  ++paragraphs_;
  ++lines_;
}

void Layout::endParagraph(bool) { target_.endParagraph(leftIndent_, rightIndent_); }

void Layout::textRun(const Style& style, const char* text) {
  target_.textRun(style, text);
  layOut(style, text);
}

void Layout::linkRun(const Style& style, const char* link, const char* text) {
  target_.linkRun(style, link, text);
  layOut(style, text && *text ? text : link);
}

void Layout::end() { target_.end(); }

void Layout::newLine() {
  penX_ = leftIndent_;
  lineTop_ = clampToInt(int64_t{lineTop_} + lineHeight_);
  lineHeight_ = 0;
  ++lines_;
}

Layout::Size Layout::measureChars(const Style& style, const char* text, const char* end, int chars, int& bytes) {
  bytes = charBytes(text, end, chars);
  Size size = target_.measure(style, text, bytes);
  if (chars > 0) averageCharWidth_ = std::max(0.01, static_cast<double>(size.width) / chars);
  return size;
}

int Layout::fit(const Style& style, const char* text, const char* end, Size& size) {
  const int total = utf8CharCount(text, end);
  const int64_t room = int64_t{available_} - (penX_ - leftIndent_);
  const bool emptyLine = penX_ == leftIndent_;
  // Find the most characters that fit: `fits` fit, `tooMany` do not.  Each
  // try is guessed from the average character width seen so far.
  int fits = 0, tooMany = total + 1;
  Size fitsSize;
  while (tooMany - fits > 1) {
    double guess = room > 0 ? std::min<double>(static_cast<double>(room) / averageCharWidth_, INT_MAX) : 0;
    int chars = std::clamp(static_cast<int>(guess), fits + 1, tooMany - 1);
    int bytes;
    Size measured = measureChars(style, text, end, chars, bytes);
    if (measured.width <= room) {
      fits = chars;
      fitsSize = measured;
    } else {
      tooMany = chars;
    }
  }
  int bytes = charBytes(text, end, fits);
  if (fits == total) {
    size = fitsSize;
    return bytes;
  }
  // Break after the last white space that fits.
  for (int cut = bytes; cut > 0; --cut) {
    if (isWhiteSpace(text[cut - 1])) {
      size = target_.measure(style, text, cut);
      return cut;
    }
  }
  if (!emptyLine) return 0;
  // A word alone wider than the line: break it between characters, at
  // least one so that the text moves on.
  if (fits == 0) {
    fits = 1;
    bytes = charBytes(text, end, 1);
    size = target_.measure(style, text, bytes);
  } else {
    size = fitsSize;
  }
  return bytes;
}

void Layout::layOut(const Style& style, const char* text) {
  if (text == nullptr) return;
  if (paragraphs_ == 0) beginParagraph(kLeft, 0, 0);
  const char* p = text;
  while (*p) {
    if (*p == '\n') {
      newLine();
      ++p;
      continue;
    }
    const char* pieceEnd = std::strchr(p, '\n');
    if (pieceEnd == nullptr) pieceEnd = p + std::strlen(p);
    Size size;
    int bytes = fit(style, p, pieceEnd, size);
    if (bytes > 0) {
      lineHeight_ = std::max(lineHeight_, size.height);
      target_.place(style, p, bytes, Rect{penX_, lineTop_, size.width, lineHeight_}, lines_ - 1);
      penX_ = clampToInt(int64_t{penX_} + size.width);
      extent_.width = std::max(extent_.width, penX_ + rightIndent_);
      extent_.height = std::max(extent_.height, clampToInt(int64_t{lineTop_} + lineHeight_));
      p += bytes;
      if (p == pieceEnd) continue;
    }
    // The piece goes on on the next line, without its leading white space
    // or one line feed.
    newLine();
    while (isWhiteSpace(*p)) ++p;
    if (*p == '\n') ++p;
  }
}

}  // namespace Markup

// ---- Links ----

void LinkCbOpenUrl::openLink(const char* link) { (void)os::openUrl(link); }

// ---- Mnemonics ----

int32_t stripMnemonic(char* text, char** position) {
  if (position) *position = nullptr;
  if (text == nullptr) return 0;
  char* mnemonic = nullptr;
  char* out = text;
  for (const char* in = text; *in;) {
    if (*in != '&') {
      *out++ = *in++;
      continue;
    }
    ++in;
    if (*in == '&') {
      *out++ = *in++;
    } else if (*in != '\0' && mnemonic == nullptr) {
      mnemonic = out;
    }
  }
  *out = '\0';
  if (position) *position = mnemonic;
  if (mnemonic == nullptr) return 0;
  unsigned char lead = static_cast<unsigned char>(*mnemonic);
  if (lead < 0x80) return lead;
  const char* cursor = mnemonic + 1;
  int32_t codepoint = utf8Decode(lead, &cursor, static_cast<int>(std::strlen(mnemonic)));
  return codepoint < 0 ? lead : codepoint;
}

}  // namespace plat
