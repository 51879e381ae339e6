#include <gtest/gtest.h>

#include <memory>

#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Menu.h"
#include "qocore/uilibs/mui/MuStrings.h"
#include "qocore/uilibs/mui/mac/MuPopupMenuMac.h"
#include "qocore/uilibs/mui/tests/MuTestSupport.h"

namespace mui {
namespace {

// An element at a fixed place and size.
class Placed : public MuElement {
 public:
  Placed(Point at, Size size) : MuElement(nullptr, "placed", nullptr), at_(at), size_(size) {}
  Point absolutePosition() override { return at_; }
  Size getSize() override { return size_; }

 private:
  Point at_;
  Size size_;
};

class MuPopupMenuMacTest : public testing::Test {
 protected:
  void SetUp() override {
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
  }
  void TearDown() override { appkit::Application::reset(); }

  objc::AutoreleasePool pool_;
};

TEST_F(MuPopupMenuMacTest, MenusAreFoundByNameWhileTheyLive) {
  {
    auto menu = std::make_unique<MuPopupMenuMac>("context", nullptr);
    ASSERT_EQ(popupMenus().count("context"), 1u);
    EXPECT_EQ(popupMenus()["context"], menu->menu());
  }
  EXPECT_EQ(popupMenus().count("context"), 0u);
}

TEST_F(MuPopupMenuMacTest, PointsAreTopDownOnTheMainDisplay) {
  MuPopupMenuMac menu("m", nullptr);
  menu.showAt({100, 200});
  const appkit::Menu::PopUp& p = menu.menuMac().nsMenu()->lastPopUp();
  EXPECT_EQ(p.location.x, 100);
  EXPECT_EQ(p.location.y, 700);
}

TEST_F(MuPopupMenuMacTest, UnderAnElementTheAlignmentPlacesTheMenu) {
  MuPopupMenuMac menu("m", nullptr);
  menu.menu()->addItem("A rather long item title", nullptr, nullptr, nullptr, 0);
  const int32_t w = menu.menuMac().width();
  Placed element({300, 100}, {w + 200, 30});
  for (int32_t alignment : {0, 1, 2}) {
    SCOPED_TRACE(alignment);
    menu.showBelow(&element, alignment);
    const appkit::Menu::PopUp& p = menu.menuMac().nsMenu()->lastPopUp();
    EXPECT_EQ(p.location.x, 300 + 200 * alignment / 2);
    EXPECT_EQ(p.location.y, 900 - 130);
  }
}

}  // namespace
}  // namespace mui
