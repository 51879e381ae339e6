#include "platform/appkit/TextSystem.h"

#include <algorithm>
#include <string>

#include "platform/appkit/Constants.h"
#include "platform/appkit/TextMetrics.h"
#include "platform/objc/Number.h"
#include "qocore/base/plat/Utf8.h"

namespace appkit {

void TextContainer::setContainerSize(Size size) {
  size_ = size;
  if (layoutManager_) layoutManager_->invalidate();
}

void TextContainer::setLineFragmentPadding(double padding) {
  padding_ = padding;
  if (layoutManager_) layoutManager_->invalidate();
}

void TextStorage::addLayoutManager(LayoutManager* manager) {
  if (!manager || manager->storage_ == this) return;
  objc::Ref<LayoutManager> held(manager);
  if (manager->storage_) manager->storage_->removeLayoutManager(manager);
  managers_.push_back(std::move(held));
  manager->storage_ = this;
  manager->invalidate();
}

void TextStorage::removeLayoutManager(LayoutManager* manager) {
  objc::Ref<LayoutManager> gone = managers_.remove(manager);
  if (!gone) return;
  gone->storage_ = nullptr;
  gone->invalidate();
}

void TextStorage::edited() {
  for (LayoutManager* m : managers_) m->invalidate();
}

TextStorage::~TextStorage() {
  for (LayoutManager* m : managers_) m->storage_ = nullptr;
}

LayoutManager::~LayoutManager() {
  for (TextContainer* c : containers_) c->layoutManager_ = nullptr;
}

void LayoutManager::addTextContainer(TextContainer* container) {
  if (!container) return;
  containers_.push_back(container);
  container->layoutManager_ = this;
  invalidate();
}

void LayoutManager::setTypesetterBehavior(int behavior) {
  if (behavior != behavior_) invalidate();
  behavior_ = behavior;
}

double LayoutManager::defaultLineHeightForFont(const Font* font) const {
  return font ? textMetrics().lineHeight(*font) : 0;
}

namespace {

// The code point at a unit index and its length in units.
uint32_t codePointAt(const std::vector<uint16_t>& u, size_t i, size_t* units) {
  uint16_t c = u[i];
  if (c >= 0xD800 && c < 0xDC00 && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] < 0xE000) {
    *units = 2;
    return 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (u[i + 1] - 0xDC00);
  }
  *units = 1;
  return c;
}

bool isBlank(uint32_t c) { return c == ' ' || c == '\t'; }

// The font at an index: the attribute, else the system font.
Font* fontAt(const AttributedString& s, size_t i) {
  auto* f = dynamic_cast<Font*>(s.attributeAt(kFontAttributeName, i));
  return f ? f : Font::systemFontOfSize(0);
}

ParagraphStyle* styleAt(const AttributedString& s, size_t i) {
  auto* p = dynamic_cast<ParagraphStyle*>(s.attributeAt(kParagraphStyleAttributeName, i));
  return p ? p : ParagraphStyle::defaultStyle();
}

}  // namespace

void LayoutManager::layOut(TextContainer* container) {
  if (valid_) return;
  objc::AutoreleasePool pool;
  lines_.clear();
  valid_ = true;
  if (!storage_ || !container || storage_->length() == 0) return;
  TextMetrics& metrics = textMetrics();
  const AttributedString& s = *storage_;
  const std::vector<uint16_t>& u = s.characters();
  const size_t n = u.size();
  const double width = container->containerSize().width;
  const double padding = container->lineFragmentPadding();
  const bool aligned = width < kUnalignedWidth;
  double y = 0;
  size_t paraStart = 0;
  while (paraStart < n) {
    size_t paraEnd = paraStart;
    while (paraEnd < n && u[paraEnd] != '\n') ++paraEnd;
    if (paraEnd < n) ++paraEnd;  // the "\n" belongs to the paragraph
    const ParagraphStyle* style = styleAt(s, paraStart);
    const bool wraps = style->lineBreakMode() != kLineBreakByTruncatingTail;
    const double right =
        style->tailIndent() > 0 ? padding + style->tailIndent() : width - padding + style->tailIndent();
    bool firstLine = true;
    size_t lineStart = paraStart;
    while (lineStart < paraEnd) {
      const double left = padding + (firstLine ? style->firstLineHeadIndent() : style->headIndent());
      const double avail = right - left;
      double x = 0;     // advance so far, blanks included
      double used = 0;  // advance up to the last non-blank
      size_t breakAt = lineStart;
      size_t lineEnd = paraEnd;
      size_t i = lineStart;
      while (i < paraEnd) {
        size_t len;
        uint32_t c = codePointAt(u, i, &len);
        if (c == '\n') {
          i += len;
          break;
        }
        double adv = metrics.advance(c, *fontAt(s, i));
        if (isBlank(c)) {
          x += adv;
          breakAt = i + len;
        } else {
          if (wraps && adv > 0 && i > lineStart && x + adv > avail) {
            lineEnd = breakAt > lineStart ? breakAt : i;
            break;
          }
          x += adv;
          used = x;
        }
        i += len;
      }
      if (lineEnd == paraEnd) lineEnd = i;
      // Measures only what stays on the line when it broke at a blank.
      if (lineEnd < i || lineEnd < paraEnd) {
        x = 0;
        used = 0;
        for (size_t j = lineStart; j < lineEnd;) {
          size_t len;
          uint32_t c = codePointAt(u, j, &len);
          if (c != '\n') {
            x += metrics.advance(c, *fontAt(s, j));
            if (!isBlank(c)) used = x;
          }
          j += len;
        }
      }
      if (!wraps) used = std::min(used, std::max(avail, 0.0));
      double height = 0, ascent = 0;
      for (size_t j = lineStart; j < lineEnd; ++j) {
        Font* f = fontAt(s, j);
        height = std::max(height, metrics.lineHeight(*f));
        ascent = std::max(ascent, metrics.ascender(*f));
      }
      height += style->lineSpacing();
      double offset = 0;
      if (aligned && style->alignment() == kTextAlignmentRight) offset = std::max(avail - used, 0.0);
      if (aligned && style->alignment() == kTextAlignmentCenter) offset = std::max(avail - used, 0.0) / 2;
      LineFragment line;
      line.characters = Range{lineStart, lineEnd - lineStart};
      line.rect = makeRect(0, y, width, height);
      line.textX = left + offset;
      double usedLeft = offset > 0 ? line.textX - padding : 0;
      line.usedRect = makeRect(usedLeft, y, line.textX + used + padding - usedLeft, height);
      line.baseline = ascent;
      lines_.push_back(line);
      y += height;
      lineStart = lineEnd;
      firstLine = false;
    }
    paraStart = paraEnd;
  }
  // Text ending in a line feed has an empty last line, as high as the
  // line feed's font sets lines.
  if (u[n - 1] == '\n') {
    Font* f = fontAt(s, n - 1);
    double height = metrics.lineHeight(*f);
    LineFragment line;
    line.characters = Range{n, 0};
    line.rect = makeRect(0, y, width, height);
    line.textX = padding;
    line.usedRect = makeRect(0, y, 0, height);
    line.baseline = metrics.ascender(*f);
    lines_.push_back(line);
  }
}

Range LayoutManager::glyphRangeForTextContainer(TextContainer* container) {
  layOut(container);
  return Range{0, storage_ && !lines_.empty() ? storage_->length() : 0};
}

const std::vector<LineFragment>& LayoutManager::lineFragments(TextContainer* container) {
  layOut(container);
  return lines_;
}

Rect LayoutManager::usedRectForTextContainer(TextContainer* container) {
  layOut(container);
  if (lines_.empty()) return {};
  double minX = lines_.front().usedRect.minX(), maxX = lines_.front().usedRect.maxX();
  for (const LineFragment& l : lines_) {
    minX = std::min(minX, l.usedRect.minX());
    maxX = std::max(maxX, l.usedRect.maxX());
  }
  return makeRect(minX, 0, maxX - minX, lines_.back().rect.maxY());
}

size_t LayoutManager::characterIndexForPoint(Point point, TextContainer* container) {
  objc::AutoreleasePool pool;
  layOut(container);
  if (!storage_) return kNotFound;
  const std::vector<uint16_t>& u = storage_->characters();
  for (const LineFragment& l : lines_) {
    if (point.y < l.rect.minY() || point.y >= l.rect.maxY()) continue;
    double x = l.textX;
    for (size_t j = l.characters.location; j < l.characters.end();) {
      size_t len;
      uint32_t c = codePointAt(u, j, &len);
      if (c == '\n') break;
      double adv = textMetrics().advance(c, *fontAt(*storage_, j));
      if (point.x >= x && point.x < x + adv) return j;
      x += adv;
      j += len;
    }
    return kNotFound;
  }
  return kNotFound;
}

void LayoutManager::drawText(Rect rect, Point origin, TextContainer* container, const Attributes* linkAttributes) {
  objc::AutoreleasePool pool;
  layOut(container);
  if (!storage_) return;
  const AttributedString& s = *storage_;
  const std::vector<uint16_t>& u = s.characters();
  for (const LineFragment& l : lines_) {
    if (l.rect.maxY() <= rect.minY() || l.rect.minY() >= rect.maxY()) continue;
    double x = l.textX;
    size_t j = l.characters.location;
    const size_t end = l.characters.end();
    while (j < end && u[j] != '\n') {
      Range run;
      const Attributes& a = s.attributesAt(j, &run);
      size_t pieceEnd = std::min(run.end(), end);
      double pieceX = x;
      std::string text;
      size_t k = j;
      while (k < pieceEnd && u[k] != '\n') {
        size_t len;
        uint32_t c = codePointAt(u, k, &len);
        x += textMetrics().advance(c, *fontAt(s, k));
        char buf[8];
        char* p = buf;
        plat::utf8Encode(static_cast<int32_t>(c), &p);
        text.append(buf, p);
        k += len;
      }
      // A link's look comes from the link attributes where they say.
      auto look = [&](const char* name) {
        objc::Object* over = linkAttributes && a.get(kLinkAttributeName) ? linkAttributes->get(name) : nullptr;
        return over ? over : a.get(name);
      };
      auto* underline = dynamic_cast<objc::Number*>(look(kUnderlineStyleAttributeName));
      recordTextDrawing(text.c_str(),
                        makeRect(origin.x + pieceX, origin.y + l.rect.minY(), x - pieceX, l.rect.size.height),
                        fontAt(s, j), look(kForegroundColorAttributeName), underline && underline->longValue() != 0);
      j = k;
    }
  }
}

namespace {

struct DrawingLog {
  std::vector<TextDrawing> entries;
  // The fonts and colours the entries name.
  std::vector<objc::Ref<objc::Object>> held;
  void clear() {
    entries.clear();
    held.clear();
  }
};

thread_local DrawingLog drawingLog;

// The private text system of string drawing, one per thread, released
// when the thread ends.
struct StringDrawingSystem {
  objc::Ref<TextStorage> storage;
  objc::Ref<LayoutManager> manager;
  objc::Ref<TextContainer> container;
  void make() {
    if (storage) return;
    container = objc::adopt(new TextContainer);
    container->setLineFragmentPadding(0);
    manager = objc::adopt(new LayoutManager);
    manager->addTextContainer(container);
    storage = objc::adopt(new TextStorage);
    storage->addLayoutManager(manager);
  }
};

thread_local StringDrawingSystem stringDrawing;

}  // namespace

const std::vector<TextDrawing>& textDrawings() { return drawingLog.entries; }

void clearTextDrawings() { drawingLog.clear(); }

void recordTextDrawing(const char* text, Rect rect, Font* font, objc::Object* colour, bool underlined) {
  if (!font) font = Font::systemFontOfSize(0);
  drawingLog.held.reserve(drawingLog.held.size() + 2);
  drawingLog.entries.push_back(TextDrawing{plat::CharArray(text ? text : ""), rect, font, colour, underlined});
  drawingLog.held.emplace_back(font);
  if (colour) drawingLog.held.emplace_back(colour);
}

Rect boundingRectWithSize(const AttributedString* string, Size size, int options) {
  if (!string || string->length() == 0) return {};
  stringDrawing.make();
  stringDrawing.storage->setAttributedString(string);
  stringDrawing.container->setContainerSize(
      (options & kStringDrawingUsesLineFragmentOrigin) ? size : Size{kFloatMax, kFloatMax});
  Rect r = stringDrawing.manager->usedRectForTextContainer(stringDrawing.container);
  stringDrawing.storage->setAttributedString(nullptr);
  return r;
}

void drawInRect(const AttributedString* string, Rect rect) {
  if (!string || string->length() == 0) return;
  stringDrawing.make();
  stringDrawing.storage->setAttributedString(string);
  stringDrawing.container->setContainerSize(rect.size);
  stringDrawing.manager->drawText(makeRect(0, 0, rect.size.width, rect.size.height), rect.origin,
                                  stringDrawing.container);
  stringDrawing.storage->setAttributedString(nullptr);
}

}  // namespace appkit
