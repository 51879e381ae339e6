#pragma once
// The rich-text markup of the UI: a small HTML-like language of bold and
// italic words, coloured and resized spans, aligned and indented
// paragraphs, bullet lists, line breaks and links.
//
// Builders append markup to a plat::DString; ParserHtml::instance() parses
// it into paragraphs of styled runs and replays them to a Handler, which
// the UI's text elements implement.  White space is kept as written.
// Parsing sets the process-wide XML options for its duration: markup is
// parsed on the main thread only.

#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"

namespace plat {

namespace Markup {

// The style of a run.
struct Style {
  static constexpr uint32_t kItalic = 1;
  static constexpr uint32_t kUnderline = 2;
  static constexpr uint32_t kLink = 4;         // runs inside an "a" element
  static constexpr int32_t kNormalSize = 120;  // 100 %
  static constexpr int32_t kNormalWeight = 400;
  static constexpr int32_t kBoldWeight = 700;

  uint32_t flags = 0;
  int32_t size = kNormalSize;
  int32_t weight = kNormalWeight;
  CharArray color;       // as written in the markup, or null
  CharArray background;  // likewise

  // Equal to the default in all five fields.
  bool isPlain() const noexcept;
  // Appends the "style" attribute text: "font-size:<percent>%;font-weight:
  // <weight>;", then the italic, underline, colour and background
  // declarations that apply.
  void appendText(DString& out) const;
};

struct Run {
  DString text;
  CharArray link;  // the link target, or null
  Style style;
};

enum Alignment : int { kLeft = 0, kCenter = 1, kRight = 2, kJustify = 3 };

struct Paragraph {
  int alignment = kLeft;
  float leftPadding = 0;
  float rightPadding = 0;
  std::vector<Run> runs;
};

// What the parser records: the paragraphs in order.
using Recording = std::vector<Paragraph>;

// The receiver of parsed markup.
class Handler {
 public:
  virtual ~Handler();
  virtual void beginParagraph(int alignment, float leftPadding, float rightPadding) = 0;
  virtual void endParagraph(bool last) = 0;
  virtual void textRun(const Style& style, const char* text) = 0;
  virtual void linkRun(const Style& style, const char* link, const char* text) = 0;
  virtual void end() = 0;
};

class Parser {
 public:
  virtual ~Parser();
  // Replays the markup to the handler (when given); false, with the
  // failure logged, when the markup is invalid.
  [[nodiscard]] virtual bool parse(const char* text, Handler* handler) = 0;
  // Appends the markup's paragraphs; throws plat::Exception on invalid
  // markup.
  virtual void parseInto(const char* text, Recording& recording) = 0;
};

class ParserHtml : public Parser {
 public:
  // The process-wide parser, made on first use and never destroyed.
  static ParserHtml& instance();

  [[nodiscard]] bool parse(const char* text, Handler* handler) override;
  void parseInto(const char* text, Recording& recording) override;

 private:
  ParserHtml() = default;
};

// The plain text of markup: the runs' texts (a link without text gives
// its target), with no separators between paragraphs apart from the line
// feeds that br and li write.  Invalid markup leaves it empty.
class Stripper : public Handler, public DString {
 public:
  explicit Stripper(const char* text);

  void beginParagraph(int, float, float) override {}
  void endParagraph(bool) override {}
  void textRun(const Style& style, const char* text) override;
  void linkRun(const Style& style, const char* link, const char* text) override;
  void end() override {}
};

// Breaks runs into lines for a measuring target, in the target's device
// units.
class Layout : public Handler {
 public:
  struct Size {
    int width = 0;
    int height = 0;
  };
  struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
  };

  // What measures and receives the laid-out text.
  class Target {
   public:
    virtual ~Target();
    // The paragraph and run calls, forwarded before the layout's own work.
    virtual void beginParagraph(int alignment, float leftPadding, float rightPadding) = 0;
    virtual void textRun(const Style& style, const char* text) = 0;
    virtual void linkRun(const Style& style, const char* link, const char* text) = 0;
    // Device units per markup unit of padding.
    virtual float unitSize() = 0;
    // The space between two paragraphs.
    virtual int paragraphSpacing() = 0;
    // The extent of text[0, length) in the style.
    virtual Size measure(const Style& style, const char* text, int length) = 0;
    // One fitted piece of a run at its place on line `line` (from 0).
    virtual void place(const Style& style, const char* text, int length, const Rect& rect, int line) = 0;
    // The paragraph's indents in device units.
    virtual void endParagraph(int leftIndent, int rightIndent) = 0;
    virtual void end() = 0;
  };

  // A maximum width of 0 or less means no limit.
  Layout(Target& target, int maxWidth);

  void beginParagraph(int alignment, float leftPadding, float rightPadding) override;
  void endParagraph(bool last) override;
  void textRun(const Style& style, const char* text) override;
  void linkRun(const Style& style, const char* link, const char* text) override;
  void end() override;

  int paragraphCount() const noexcept { return paragraphs_; }
  // Lines begun so far (0 before the first paragraph).
  int lineCount() const noexcept { return lines_; }
  // The extent laid out so far.
  Size extent() const noexcept { return extent_; }
  double averageCharWidth() const noexcept { return averageCharWidth_; }

 private:
  void layOut(const Style& style, const char* text);
  void newLine();
  // How many bytes of [text, end) to place on the current line, with their
  // extent; 0 when the line must break first.
  int fit(const Style& style, const char* text, const char* end, Size& size);
  Size measureChars(const Style& style, const char* text, const char* end, int chars, int& bytes);

  Target& target_;
  int maxWidth_;
  int penX_ = 0;
  int lineTop_ = 0;
  int lineHeight_ = 0;
  int leftIndent_ = 0;
  int rightIndent_ = 0;
  int available_ = 0;
  int paragraphs_ = 0;
  int lines_ = 0;
  Size extent_;
  double averageCharWidth_ = 3.0;
};

// The receiver of an activated link.
class LinkCallback {
 public:
  virtual ~LinkCallback();
  virtual void openLink(const char* link) = 0;
};

// ---- Builders ----
// Each appends to `out` and returns it.  "Escaped" text has "&", "<", ">",
// '"' and "'" replaced by entities, after text that is not valid UTF-8 has
// been repaired.

DString& appendEscaped(DString& out, const char* text);
// The text unchanged for a plain style, else a span with the style text.
DString& span(DString& out, const char* text, const Style& style);
DString& escapedSpan(DString& out, const char* text, const Style& style);
// The text unchanged without colour at size 120, else a span of that
// colour and size.
DString& coloredSpan(DString& out, const char* text, const char* color, int size);
DString& coloredSpanEscaped(DString& out, const char* text, const char* color, int size);
// The escaped text in "b", through coloredSpan.
DString& bold(DString& out, const char* text, const char* color, int size);
// The opening tag of a paragraph: its alignment, and the style text when
// a style is given.
DString& div(DString& out, int alignment, const Style* style);
// A link to `link` showing the text (the link itself without text), in
// the colour when one is given.
DString& link(DString& out, const char* text, const char* link, const char* color);
DString& styledLink(DString& out, const char* text, const char* link, const Style& style);

}  // namespace Markup

// Opens an activated link with the system's default application.
class LinkCbOpenUrl : public Markup::LinkCallback {
 public:
  void openLink(const char* link) override;
};

// Removes the "&" mnemonic markers of a menu or button title in place
// ("&&" leaves one "&") and returns the marked character (0 without one or
// for a null text).  `position`, when given, receives the mnemonic's place
// in the shortened text, or null.
int32_t stripMnemonic(char* text, char** position = nullptr);

}  // namespace plat
