#include <gtest/gtest.h>

#include "platform/appkit/Box.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Metrics.h"

namespace appkit {
namespace {

class FlippedBox : public Box {
 public:
  using Box::Box;
  bool isFlipped() const override { return true; }
};

// Each case: a 200 x 100 box's title position, border and margins, and
// where its content view lands, unflipped and flipped.
struct TileCase {
  int titlePosition;
  int border;
  Size margins;
  Rect unflipped;
  Rect flipped;
};

TEST(Box, ContentViewIsTiledInsideBorderTitleAndMargins) {
  const double t = kBoxTitleHeight, g = kGrooveBorderWidth, l = kBezelBorderWidth;
  // clang-format off
  const TileCase cases[] = {
    {kNoTitle,  kNoBorder,     {0, 0}, makeRect(0, 0, 200, 100),                          makeRect(0, 0, 200, 100)},
    {kAtTop,    kNoBorder,     {0, 0}, makeRect(0, 0, 200, 100 - t),                      makeRect(0, t, 200, 100 - t)},
    {kAtBottom, kNoBorder,     {0, 0}, makeRect(0, t, 200, 100 - t),                      makeRect(0, 0, 200, 100 - t)},
    {kAtTop,    kGrooveBorder, {0, 0}, makeRect(g, g, 200 - 2 * g, 100 - 2 * g - t),      makeRect(g, g + t, 200 - 2 * g, 100 - 2 * g - t)},
    {kNoTitle,  kLineBorder,   {5, 3}, makeRect(l + 5, l + 3, 200 - 2 * (l + 5), 100 - 2 * (l + 3)),
                                       makeRect(l + 5, l + 3, 200 - 2 * (l + 5), 100 - 2 * (l + 3))},
  };
  // clang-format on
  for (const TileCase& c : cases) {
    for (bool flipped : {false, true}) {
      Box* box = flipped ? new FlippedBox(makeRect(0, 0, 200, 100)) : new Box(makeRect(0, 0, 200, 100));
      box->setTitlePosition(c.titlePosition);
      box->setBorderType(c.border);
      box->setContentViewMargins(c.margins);
      EXPECT_EQ(box->contentView()->frame(), flipped ? c.flipped : c.unflipped)
          << "title " << c.titlePosition << " border " << c.border << " flipped " << flipped;
      box->release();
    }
  }
}

TEST(Box, ATransparentBoxHasNoBorderWhateverItsType) {
  Box* box = new Box(makeRect(0, 0, 200, 100));
  box->setTitlePosition(kNoTitle);
  box->setContentViewMargins({0, 0});
  box->setTransparent(true);
  EXPECT_EQ(box->borderWidth(), 0);
  EXPECT_EQ(box->contentView()->frame(), makeRect(0, 0, 200, 100));
  box->setTransparent(false);
  EXPECT_EQ(box->contentView()->frame(), makeRect(kGrooveBorderWidth, kGrooveBorderWidth, 200 - 2 * kGrooveBorderWidth,
                                                  100 - 2 * kGrooveBorderWidth));
  box->release();
}

TEST(Box, StartsWithTheDocumentedLookAndFollowsItsFrame) {
  Box* box = new Box(makeRect(0, 0, 100, 60));
  EXPECT_EQ(box->titlePosition(), kAtTop);
  EXPECT_EQ(box->borderType(), kGrooveBorder);
  EXPECT_EQ(box->contentViewMargins(), (Size{kBoxContentMargin, kBoxContentMargin}));
  box->setContentViewMargins({0, 0});
  box->setTitlePosition(kNoTitle);

  // A new content view takes the old one's place, and resizing the box
  // resizes it.
  View* content = new View;
  box->setContentView(content);
  content->release();
  ASSERT_EQ(box->subviews().size(), 1u);
  EXPECT_EQ(box->subviews()[0], content);
  box->setFrameSize({150, 80});
  const double g = kGrooveBorderWidth;
  EXPECT_EQ(content->frame(), makeRect(g, g, 150 - 2 * g, 80 - 2 * g));

  EXPECT_EQ(box->decorationSize(), (Size{2 * g, 2 * g}));

  // Too small for its border: the content view gets nothing, never less,
  // and the decoration stays what a large enough box needs.
  box->setTitlePosition(kAtTop);
  box->setFrameSize({2, 2});
  EXPECT_EQ(content->frame().size, (Size{0, 0}));
  EXPECT_EQ(box->decorationSize(), (Size{2 * g, 2 * g + kBoxTitleHeight}));
  box->release();
}

}  // namespace
}  // namespace appkit
