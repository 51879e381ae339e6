#include "qocore/uilibs/ui/mac/TextMeasurer.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Constants.h"
#include "platform/appkit/TextMetrics.h"
#include "platform/appkit/TextSystem.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/ui/mac/AttrString.h"
#include "qocore/uilibs/ui/mac/Fonts.h"

namespace ui {

namespace {

// The thread's text system; released when the thread ends.
struct TextSystem {
  objc::Ref<appkit::TextContainer> container;
  objc::Ref<appkit::LayoutManager> manager;
  objc::Ref<appkit::TextStorage> storage;
};

thread_local TextSystem textSystem;

int roundUp(double v) { return static_cast<int>(std::ceil(v)); }

}  // namespace

TextMeasurer::TextMeasurer(int behavior) : behavior_(behavior) {
  if (textSystem.storage) return;
  textSystem.container = objc::adopt(new appkit::TextContainer(appkit::Size{0, 0}));
  textSystem.storage = objc::adopt(new appkit::TextStorage);
  textSystem.manager = objc::adopt(new appkit::LayoutManager);
  textSystem.manager->addTextContainer(textSystem.container);
  textSystem.storage->addLayoutManager(textSystem.manager);
}

appkit::Size TextMeasurer::measure(const appkit::AttributedString* string, double padding, double width,
                                   double height) {
  if (!string || string->length() == 0) return {};
  TextSystem& t = textSystem;
  t.storage->setAttributedString(string);
  t.container->setContainerSize(appkit::Size{width, height});
  // The text system is shared by every measurer of the thread: a padding
  // left by an earlier measure must not change this one.
  t.container->setLineFragmentPadding(padding >= 0 ? padding : appkit::kDefaultLineFragmentPadding);
  t.manager->setTypesetterBehavior(behavior_);
  (void)t.manager->glyphRangeForTextContainer(t.container);
  return t.manager->usedRectForTextContainer(t.container).size;
}

appkit::Size TextMeasurer::sizeForWidth(const appkit::AttributedString* string, double width, double padding) {
  return measure(string, padding, width, appkit::kFloatMax);
}

appkit::Size TextMeasurer::sizeForHeight(const appkit::AttributedString* string, double height, double padding) {
  return measure(string, padding, appkit::kFloatMax, std::max(height, 1.0));
}

int TextMeasurer::heightForWidth(const appkit::AttributedString* string, int width, int padding) {
  return roundUp(measure(string, padding, width, appkit::kFloatMax).height);
}

int TextMeasurer::widthForHeight(const appkit::AttributedString* string, int height, int padding) {
  return roundUp(measure(string, padding, appkit::kFloatMax, std::max(static_cast<double>(height), 1.0)).width);
}

int TextMeasurer::naturalWidth(const appkit::AttributedString* string, int padding) {
  return roundUp(measure(string, padding, appkit::kFloatMax, 1.0).width);
}

appkit::Size TextMeasurer::sizeOfPlainText(objc::String* text, appkit::Font* font, double height) {
  appkit::Attributes a;
  a.set(appkit::kFontAttributeName, font);
  const objc::Ref<appkit::AttributedString> s = objc::adopt(new appkit::AttributedString(text, a));
  return measure(s, -1, appkit::kFloatMax, std::max(height, 1.0));
}

int TextMeasurer::lineHeight(appkit::Font* font) {
  if (!textSystem.manager) return 0;
  textSystem.manager->setTypesetterBehavior(behavior_);
  return static_cast<int>(textSystem.manager->defaultLineHeightForFont(font));
}

int TextMeasurer::lineHeightForStyle(const plat::Markup::Style& style) {
  objc::AutoreleasePool pool;
  return lineHeight(fontForStyle(style));
}

void drawStyledText(const char* markup, objc::Object* colour, const TextRect& rect, int alignment, int placement,
                    int height) {
  objc::AutoreleasePool pool;
  AttrStringMarkup text(markup);
  text.setLineBreakMode(appkit::kLineBreakByTruncatingTail);
  text.setAlignment(alignment == 1   ? appkit::kTextAlignmentCenter
                    : alignment == 2 ? appkit::kTextAlignmentRight
                                     : appkit::kTextAlignmentLeft);
  if (colour) text.setColour(colour);
  if (height == 0)
    height = static_cast<int>(appkit::boundingRectWithSize(text.get(), appkit::Size{2147483647.0, appkit::kFloatMax},
                                                           appkit::kStringDrawingUsesLineFragmentOrigin)
                                  .size.height);
  int y = rect.y1 + ((rect.y2 - rect.y1 - height) * placement) / 2;
  appkit::drawInRect(text.get(), appkit::makeRect(rect.x1, y, rect.x2 - rect.x1, height));
}

}  // namespace ui
