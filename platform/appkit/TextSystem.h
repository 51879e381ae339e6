#pragma once
// Stands in for the platform's text system: a text storage (an attributed
// string that tells its layout managers of every change), a layout
// manager that breaks the storage into line fragments for its text
// containers with the metrics of TextMetrics.h, and text containers that
// give the lines their width and padding.  A storage retains its layout
// managers, a layout manager its containers.
//
// Text is not rasterised: drawing records what would be drawn (string,
// rectangle, font, colour) in the calling thread's text-drawing log.

#include <cfloat>
#include <vector>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Geometry.h"
#include "platform/objc/Ref.h"

namespace appkit {

class LayoutManager;

// The largest single-precision value: a container this wide or high has no
// limit in that direction.
constexpr double kFloatMax = FLT_MAX;
// Lines in containers at least this wide are not aligned: they start at
// the leading margin (centring in an unlimited width has no meaning).
constexpr double kUnalignedWidth = 1e9;

class TextContainer : public objc::Object {
 public:
  // initWithContainerSize: (one reference, the caller's).
  explicit TextContainer(Size size = {kFloatMax, kFloatMax}) : size_(size) {}

  Size containerSize() const noexcept { return size_; }
  void setContainerSize(Size size);
  double lineFragmentPadding() const noexcept { return padding_; }
  void setLineFragmentPadding(double padding);
  LayoutManager* layoutManager() const noexcept { return layoutManager_; }

 protected:
  ~TextContainer() override = default;

 private:
  friend class LayoutManager;
  Size size_;
  double padding_ = 5;
  LayoutManager* layoutManager_ = nullptr;
};

class TextStorage : public AttributedString {
 public:
  // initWithString: (one reference, the caller's).
  explicit TextStorage(objc::String* string = nullptr) : AttributedString(string) {}

  // Retains the layout manager; its text becomes this storage.
  void addLayoutManager(LayoutManager* manager);
  void removeLayoutManager(LayoutManager* manager);
  const std::vector<LayoutManager*>& layoutManagers() const noexcept { return managers_.items(); }

  void edited() override;

 protected:
  ~TextStorage() override;

 private:
  objc::RefVector<LayoutManager> managers_;
};

// One laid-out line.
struct LineFragment {
  Range characters;  // the units of the line, its "\n" included
  Rect rect;         // the whole line, in the container's coordinates
  Rect usedRect;     // what its text covers, padding included
  double baseline;   // the baseline's distance from the line's top
  double textX;      // where its first glyph starts
};

class LayoutManager : public objc::Object {
 public:
  // One reference, the caller's.
  LayoutManager() = default;

  // Retains the container.
  void addTextContainer(TextContainer* container);
  const std::vector<TextContainer*>& textContainers() const noexcept { return containers_.items(); }
  TextStorage* textStorage() const noexcept { return storage_; }
  int typesetterBehavior() const noexcept { return behavior_; }
  void setTypesetterBehavior(int behavior);

  // Lays the storage out in the container (the first one holds all the
  // text) and answers the glyph range, one glyph per UTF-16 unit.
  Range glyphRangeForTextContainer(TextContainer* container);
  // The union of the lines' used rectangles; empty for empty text.
  Rect usedRectForTextContainer(TextContainer* container);
  const std::vector<LineFragment>& lineFragments(TextContainer* container);
  // The line height a font sets.
  double defaultLineHeightForFont(const Font* font) const;
  // The index of the character under a point of the container, or
  // kNotFound when the point is over no text.
  size_t characterIndexForPoint(Point point, TextContainer* container);
  // Records the lines that cross the rectangle (container coordinates),
  // drawn with the container's origin at `origin`; the colour and
  // underline of `linkAttributes`, when given, win over those of link runs.
  void drawText(Rect rect, Point origin, TextContainer* container, const Attributes* linkAttributes = nullptr);

  // The layout is stale.
  void invalidate() noexcept { valid_ = false; }

 protected:
  ~LayoutManager() override;

 private:
  friend class TextStorage;
  void layOut(TextContainer* container);

  objc::RefVector<TextContainer> containers_;
  TextStorage* storage_ = nullptr;
  int behavior_ = -1;
  bool valid_ = false;
  std::vector<LineFragment> lines_;
};

// One recorded piece of drawn text: a line's run of one font and colour.
struct TextDrawing {
  plat::CharArray text;  // UTF-8
  Rect rect;             // in the view's (or the caller's) coordinates
  Font* font;            // retained by the log
  objc::Object* colour;  // retained by the log; null: the default text colour
  bool underlined;
};

// The calling thread's log of drawn text; the thread's end releases it.
const std::vector<TextDrawing>& textDrawings();
void clearTextDrawings();
// Adds one entry (used by drawing code).
void recordTextDrawing(const char* text, Rect rect, Font* font, objc::Object* colour, bool underlined);

// Drawing and measuring an attributed string on its own, as the platform's
// string drawing does, through a private text system of the calling
// thread.  `options`: kStringDrawingUsesLineFragmentOrigin (Constants.h);
// without it the string is measured as one line.
Rect boundingRectWithSize(const AttributedString* string, Size size, int options);
void drawInRect(const AttributedString* string, Rect rect);

}  // namespace appkit
