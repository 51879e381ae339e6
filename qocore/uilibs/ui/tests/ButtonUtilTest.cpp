#include <gtest/gtest.h>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Metrics.h"
#include "platform/objc/Object.h"
#include "qocore/uilibs/ui/mac/ButtonUtil.h"

namespace ui {
namespace {

TEST(ButtonUtilTest, AnUntitledButtonMeasuresByItsKind) {
  EXPECT_EQ(buttonSize(appkit::kButtonMomentaryLight, appkit::kBezelRounded),
            (appkit::Size{2 * appkit::kButtonPadding, appkit::kButtonHeight}));
  EXPECT_EQ(buttonSize(appkit::kButtonSwitch, 0), (appkit::Size{appkit::kCheckIndicatorWidth, appkit::kCheckHeight}));
}

TEST(ButtonUtilTest, AnImageButtonIsBorderlessAndAsLargeAsItsImage) {
  objc::AutoreleasePool pool;
  appkit::Image* image = new appkit::Image({24, 16});
  appkit::Image* pressed = new appkit::Image({24, 16});
  appkit::Button* b = makeImageButton(image, pressed, "Close");
  EXPECT_EQ(b->frame().size, (appkit::Size{24, 16}));
  EXPECT_FALSE(b->isBordered());
  EXPECT_TRUE(b->clipsToBounds());
  EXPECT_EQ(b->cell()->highlightsBy(), 1);
  EXPECT_EQ(b->image(), image);
  EXPECT_EQ(b->alternateImage(), pressed);
  EXPECT_STREQ(b->toolTip(), "Close");
  EXPECT_STREQ(makeImageButton(image, nullptr, nullptr)->toolTip(), "");
  image->release();
  pressed->release();
}

}  // namespace
}  // namespace ui
