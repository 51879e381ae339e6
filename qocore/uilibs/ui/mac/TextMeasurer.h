#pragma once
// Measures text off-screen for the layouts: natural width, height for a
// width, width for a height, line height.  The text system it lays text
// out in (a storage, a layout manager, a container) is one per thread,
// made by the first measurer constructed on the thread and released when
// the thread ends, so measuring is safe on any thread.

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Geometry.h"
#include "qocore/base/plat/Markup.h"

namespace ui {

class TextMeasurer {
 public:
  // The typesetter behaviour (kTypesetterLatestBehavior for text views).
  explicit TextMeasurer(int behavior);

  // The used size of the string in a container of the size, with the
  // line-fragment padding, or the default padding when it is negative;
  // (0, 0) for an empty or absent string.
  appkit::Size measure(const appkit::AttributedString* string, double padding, double width, double height);
  appkit::Size sizeForWidth(const appkit::AttributedString* string, double width, double padding);
  appkit::Size sizeForHeight(const appkit::AttributedString* string, double height, double padding);
  // Rounded up to whole points.
  int heightForWidth(const appkit::AttributedString* string, int width, int padding);
  int widthForHeight(const appkit::AttributedString* string, int height, int padding);
  int naturalWidth(const appkit::AttributedString* string, int padding);
  // Plain text in a font, with the default padding.
  appkit::Size sizeOfPlainText(objc::String* text, appkit::Font* font, double height);
  // The line height of a font (truncated); 0 on a thread without a text
  // system.
  int lineHeight(appkit::Font* font);
  int lineHeightForStyle(const plat::Markup::Style& style);

 private:
  int behavior_;
};

// Draws markup in the style's colour (null: the markup's own colours) in a
// rectangle (x1, y1 inclusive, x2, y2 exclusive), truncated at the tail,
// aligned by the toolkit alignment (0 left, 1 centre, 2 right) and placed
// vertically by `placement` (0 top, 1 centred, 2 bottom); a height of 0 is
// measured.
struct TextRect {
  int x1;
  int y1;
  int x2;
  int y2;
};
void drawStyledText(const char* markup, objc::Object* colour, const TextRect& rect, int alignment, int placement,
                    int height);

}  // namespace ui
