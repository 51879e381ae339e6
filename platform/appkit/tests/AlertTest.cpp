#include <gtest/gtest.h>

#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/View.h"

namespace appkit {
namespace {

class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::reset();
    inject::mainDisplay(1440, 900, 1);
  }
  void TearDown() override {
    inject::setAlertScript(nullptr);
    Application::reset();
  }
};

TEST_F(AlertTest, AnAlertWhoseLoopEndsBeforeItsAnswerLeavesNothingBehind) {
  Application& app = Application::shared();
  int asked = 0;
  inject::setAlertScript([&asked](Alert*) { return ++asked, kAlertFirstButtonReturn; });
  // An event already waiting stops the alert's loop before the script's
  // turn comes.
  app.postEvent(Event::otherEvent(kEventApplicationDefined, {}, 0, 0, 0, 1, 0, 0), false);
  app.setEventFilter([&app](Event* e) {
    if (e->type() == kEventApplicationDefined) app.stop(nullptr);
    return false;
  });
  auto* alert = new Alert;
  alert->setMessageText("Setup");
  EXPECT_EQ(alert->runModal(), kModalResponseStop);
  EXPECT_EQ(alert->buttons().size(), 1u);
  EXPECT_STREQ(alert->buttons()[0]->title(), "OK");
  alert->release();
  // The script's event is still queued, now addressed to no one.
  EXPECT_EQ(app.queuedEvents(), 1u);
  inject::handleQueued();
  EXPECT_EQ(asked, 0);
  app.setEventFilter(nullptr);
}

}  // namespace
}  // namespace appkit
