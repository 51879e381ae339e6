#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuFrameMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"
#include "testing/FileFixtures.h"

namespace mui {
namespace {

using mui_test::kKeyReturn;

class MuButtonMacTest : public mui_test::MacPeerTest {
 protected:
  MuButtonMacTest() : MacPeerTest({300, 200}) {}
  void SetUp() override {
    MacPeerTest::SetUp();
    muLayoutFactory = MuLayoutMac::create;
    muButtonFactory = MuButtonMac::create;
    muCheckFactory = MuCheckMac::create;
  }
  MuButtonMac* button(const char* label, uint32_t type = MuButton::kNormal, uint32_t flags = 0) {
    return static_cast<MuButtonMac*>(MuButton::create(dialog_.get(), "b", label, type, flags, 0));
  }
  MuCheckMac* check(const char* id, const char* label, uint32_t type, MuCheck* member = nullptr,
                    const char* imageBase = nullptr) {
    return static_cast<MuCheckMac*>(MuCheck::create(dialog_.get(), id, label, type, member, imageBase));
  }
  static const MuInsets& insets(MuElement* e) { return static_cast<MuCommonMac*>(e->peer())->insets(); }
};

TEST_F(MuButtonMacTest, PushButtonsMeasureByTheirCellWithinTheToolkitMinimum) {
  const int32_t minWidth = Mui::instance()->metric(Mui::kButtonMinWidth);
  const int32_t minHeight = Mui::instance()->metric(Mui::kButtonMinHeight);
  MuButtonMac* ok = button("OK");
  EXPECT_TRUE(ok->button()->isBordered());
  EXPECT_EQ(insets(ok).left, 5);
  EXPECT_EQ(insets(ok).top, 4);
  EXPECT_EQ(ok->widthForHeight(0), minWidth);
  EXPECT_EQ(ok->heightForWidth(0), std::max<int32_t>(appkit::kButtonHeight, minHeight) - 8);

  // A long title is wider than the minimum: its cell less the insets.
  const std::string longTitle(40, 'x');
  MuButtonMac* wide = button(longTitle.c_str());
  EXPECT_EQ(wide->widthForHeight(0), int32_t(40 * appkit::kCharacterWidth + 2 * appkit::kButtonPadding) - 10);

  // Borderless buttons have neither insets nor minimum.
  MuButtonMac* flat = button("OK", MuButton::kNormal, MuButton::kBorderless);
  EXPECT_FALSE(flat->button()->isBordered());
  EXPECT_EQ(insets(flat).left, 0);
  EXPECT_EQ(flat->widthForHeight(0), int32_t(2 * appkit::kCharacterWidth + 2 * appkit::kButtonPadding));
  EXPECT_EQ(flat->heightForWidth(0), int32_t(appkit::kButtonHeight));

  // The peer's frame is the element's size plus the insets.
  ok->setSize({136, 40});
  EXPECT_EQ(ok->button()->frame().size, (appkit::Size{146, 48}));
}

TEST_F(MuButtonMacTest, ImagesPlaceBesideOrInsteadOfTheTitle) {
  MuButtonMac* b = button("Go");
  EXPECT_EQ(b->button()->imagePosition(), appkit::kNoImage);
  EXPECT_EQ(b->button()->bezelStyle(), appkit::kBezelRounded);
  b->setImage("arrow", {16, 16}, 0);
  EXPECT_NE(b->button()->image(), nullptr);
  EXPECT_EQ(b->button()->imagePosition(), appkit::kImageLeft);
  EXPECT_EQ(b->button()->bezelStyle(), appkit::kBezelRegularSquare);
  EXPECT_EQ(insets(b).left, 2);
  EXPECT_EQ(insets(b).top, 1);
  b->setText("");
  EXPECT_EQ(b->button()->imagePosition(), appkit::kImageOnly);

  // An image button shows the hover image while the pointer is inside.
  MuButtonMac* img = button(nullptr, MuButton::kCustom);
  img->setImage("normal", {16, 16}, 0);
  img->setImage("hover", {16, 16}, 1);
  img->setImage("pressed", {16, 16}, 2);
  appkit::Image* normal = img->button()->image();
  ASSERT_NE(normal, nullptr);
  EXPECT_NE(img->button()->alternateImage(), nullptr);
  img->button()->mouseEntered(nullptr);
  EXPECT_NE(img->button()->image(), nullptr);
  EXPECT_NE(img->button()->image(), normal);
  img->button()->mouseExited(nullptr);
  EXPECT_EQ(img->button()->buttonType(), appkit::kButtonMomentaryChange);
  EXPECT_EQ(img->button()->trackingAreas().size(), 1u);
}

TEST_F(MuButtonMacTest, TitlesTakeTheMnemonicAndTheMenuArrow) {
  MuButtonMac* save = button("&Save");
  EXPECT_STREQ(save->button()->title(), "Save");
  EXPECT_STREQ(save->button()->keyEquivalent(), "s");
  MuButtonMac* menu = button("More", MuButton::kNormal, MuButton::kMenuButton);
  EXPECT_STREQ(menu->button()->title(), "More \xE2\x96\xBE");
}

TEST_F(MuButtonMacTest, AClickIsReportedAndTheDefaultButtonBecomesTheWindowsDefault) {
  MuButtonMac* ok = button("OK");
  dialog_->setButton(kDefaultButton, ok);
  EXPECT_EQ(static_cast<MuDialogMac*>(dialog_.get())->window()->defaultButton(), ok->button());
  ok->button()->performClick();
  EXPECT_EQ(elementEvents(), (std::vector<std::string>{"r:b:" + std::to_string(kEventClicked)}));
}

// Return must never reach a default button that went away or was replaced
// by none (the window holds it by plain pointer).
TEST_F(MuButtonMacTest, TheWindowForgetsADefaultButtonThatGoesOrIsReplacedByNone) {
  appkit::Window* window = static_cast<MuDialogMac*>(dialog_.get())->window();
  auto pressReturn = [] {
    appkit::inject::key(kKeyReturn, "\r");
    appkit::inject::handleQueued();
  };
  dialog_->setVisible(true);

  MuLayout* page = MuLayout::create(dialog_.get(), "page", MuLayout::kVertical);
  auto* ok = static_cast<MuButtonMac*>(MuButton::create(page, "ok", "OK", MuButton::kNormal, 0, 0));
  dialog_->setButton(kDefaultButton, ok);
  page->remove(ok);
  EXPECT_EQ(window->defaultButton(), nullptr);
  pressReturn();

  MuButtonMac* next = button("Next");
  for (MuElement* none :
       {static_cast<MuElement*>(nullptr), static_cast<MuElement*>(check("c", "C", MuCheck::kNormal))}) {
    dialog_->setButton(kDefaultButton, next);
    dialog_->setButton(kDefaultButton, none);
    EXPECT_EQ(window->defaultButton(), nullptr);
    pressReturn();
  }
  // The dialog's own Return may press the check box it was given; never
  // a push button the window no longer has as default.
  for (const std::string& e : elementEvents()) EXPECT_TRUE(e.rfind("r:c:", 0) == 0) << e;
}

// The three state images of the check box "checkstate", each of its own
// width (mixed 10, unchecked 12, checked 14), in a resource folder of
// their own while the test runs.
class StateImages {
 public:
  StateImages() {
    folder() = dir_.path();
    previous_ = plat::resource_dir::set([] { return plat::CharArray(folder().c_str()); });
    for (const auto& [name, side] : {std::pair<const char*, uint32_t>{"ind-checkstate.png", 10},
                                     {"off-checkstate.png", 12},
                                     {"on-checkstate.png", 14}}) {
      qoutil_test::TestPng png;
      png.width = png.height = side;
      png.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
      const std::vector<uint8_t> bytes = qoutil_test::encodePng(png);
      dir_.write(name, std::string(bytes.begin(), bytes.end()));
    }
  }
  ~StateImages() { plat::resource_dir::set(previous_); }
  // The width of the image a check shows.
  static double shownWidth(MuCheckMac* c) { return c->stateImage() ? c->stateImage()->size().width : -1; }

 private:
  static std::string& folder() {
    static std::string path;
    return path;
  }
  yarl_test::TempDir dir_;
  plat::resource_dir::DirFn previous_ = nullptr;
};

TEST_F(MuButtonMacTest, ChecksShowTheirStateAndDropTheMixedStateOnAClick) {
  StateImages images;
  MuCheckMac* c = check("c", "&Remember", MuCheck::kNormal, nullptr, "checkstate");
  EXPECT_EQ(c->check()->buttonType(), appkit::kButtonSwitch);
  EXPECT_STREQ(c->check()->title(), "Remember");
  EXPECT_STREQ(c->check()->keyEquivalent(), "r");
  EXPECT_EQ(c->check()->cell()->highlightsBy(), 0);
  EXPECT_NE(c->stateImage(), nullptr);
  EXPECT_EQ(StateImages::shownWidth(c), 12);  // unchecked

  c->setIndeterminate();
  EXPECT_TRUE(c->isIndeterminate());
  EXPECT_EQ(StateImages::shownWidth(c), 10);
  c->setValue(true);
  EXPECT_EQ(StateImages::shownWidth(c), 14);
  EXPECT_TRUE(elementEvents().empty());  // the program's changes are not reported

  c->setIndeterminate();
  c->check()->performClick();
  EXPECT_FALSE(c->isIndeterminate());
  EXPECT_TRUE(c->getValue());
  EXPECT_EQ(StateImages::shownWidth(c), 14);
  EXPECT_FALSE(c->check()->allowsMixedState());
  c->check()->performClick();
  EXPECT_FALSE(c->getValue());  // never mixed again
  EXPECT_EQ(StateImages::shownWidth(c), 12);
  EXPECT_EQ(elementEvents().size(), 2u);
  // The check is as high as the unchecked image and a little more.
  EXPECT_GE(c->heightForWidth(200), 12 + 3);
}

TEST_F(MuButtonMacTest, ACheckBoxTitleTakesTheContentTextColourWithTheStyle) {
  MuCheckMac* box = check("c", "Check", MuCheck::kNormal);
  box->refreshStyle();
  appkit::Color* colour = box->check()->titleColor();
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(ui::rgbFromColour(colour), ui::rgbFromColour(ui::getColour("contentText")));
  EXPECT_STREQ(box->check()->title(), "Check");
}

TEST_F(MuButtonMacTest, RadioButtonsExcludeEachOtherWithoutEchoes) {
  MuCheckMac* a = check("a", nullptr, MuCheck::kRadio);
  MuCheckMac* b = check("b", "B", MuCheck::kRadio, a);
  EXPECT_EQ(a->check()->buttonType(), appkit::kButtonRadio);
  EXPECT_STREQ(a->check()->title(), "");
  EXPECT_EQ(insets(a).left, 1);
  a->setValue(true);
  b->check()->performClick();
  EXPECT_TRUE(b->getValue());
  EXPECT_FALSE(a->getValue());
  EXPECT_EQ(elementEvents(), (std::vector<std::string>{"r:b:" + std::to_string(kEventChanged)}));
}

TEST_F(MuButtonMacTest, CheckTitlesWrapToTheRoomBesideTheIndicator) {
  MuCheckMac* c = check("c", "A title long enough to wrap", MuCheck::kNormal);
  const int32_t oneLine = c->heightForWidth(1000);
  EXPECT_EQ(oneLine, std::max<int32_t>(appkit::kSystemFontSize, Mui::instance()->metric(Mui::kSpacerSize)));
  EXPECT_GT(c->heightForWidth(60), oneLine);
  EXPECT_EQ(
      c->widthForHeight(0),
      int32_t(std::ceil(appkit::kCheckIndicatorWidth + appkit::kCheckTitleGap + 27 * appkit::kCharacterWidth - 4)) + 1);
}

}  // namespace
}  // namespace mui
