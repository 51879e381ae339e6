#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/iokit/HidService.h"
#include "qocore/base/os/mac/HidSystem.h"
#include "qocore/base/os/mac/IOKitUtil.h"
#include "testing/FailureOf.h"

namespace {

using iokit::PostedEvent;
using yarl_test::failureOf;

constexpr int32_t kBadArgument = iokit::kIOReturnBadArgument;

// An IOKit failure as "<type>: <message> (<status>)".
std::string withStatus(const os::IOKitException& e) {
  return std::string(e.typeName()) + ": " + e.str() + " (" + std::to_string(e.status()) + ")";
}

// A posted key or flags event as the HID system client writes it.
PostedEvent keyEvent(const os::HidSystem& hid, uint32_t type, int keyCode, uint32_t flags, uint32_t options) {
  PostedEvent event;
  event.connect = hid.handle();
  event.type = type;
  event.data.keyCode = static_cast<uint16_t>(keyCode);
  event.version = iokit::kNXEventDataVersion;
  event.flags = flags;
  event.options = options;
  return event;
}

class HidSystemTest : public testing::Test {
 protected:
  HidSystemTest() {
    (void)iokit::takePostedEvents();
    baseline_ = iokit::openObjectCount();
    hid_.open();
  }
  os::HidSystem hid_;
  int baseline_ = 0;
};

TEST(IOKitTest, OnlyTheHidSystemServiceIsFound) {
  const int baseline = iokit::openObjectCount();
  {
    os::IOService service("IOHIDSystem");
    EXPECT_NE(service.get(), 0u);
    EXPECT_EQ(iokit::openObjectCount(), baseline + 1);
    EXPECT_EQ(failureOf<os::IOKitException>([&] { os::IOConnect connect(service, 0); }, withStatus),
              "IOKit: IOServiceOpen failed: -536870206 (" + std::to_string(kBadArgument) + ")");
    os::IOConnect connect(service, iokit::kIOHIDParamConnectType);
    EXPECT_NE(connect.get(), 0u);
    EXPECT_EQ(iokit::openObjectCount(), baseline + 2);
  }
  // The holders released the service and closed the connection.
  EXPECT_EQ(iokit::openObjectCount(), baseline);
  EXPECT_EQ(failureOf<os::IOKitException>([] { os::IOService service("IOFramebuffer"); }, withStatus),
            "IOKit: IOServiceGetMatchingService failed (0)");
  os::IOObject empty;
  EXPECT_EQ(
      failureOf<os::IOKitException>([&] { os::IOConnect connect(empty, iokit::kIOHIDParamConnectType); }, withStatus),
      "IOKit: IOServiceOpen failed: -536870206 (" + std::to_string(kBadArgument) + ")");
}

TEST_F(HidSystemTest, ShiftThenRightShiftCombineTheirFlags) {
  hid_.postModifierKey(56, true);
  hid_.postModifierKey(60, true);
  EXPECT_EQ(hid_.flags(), 0x20006u);
  hid_.postModifierKey(56, false);
  EXPECT_EQ(hid_.flags(), 0x20004u);
  EXPECT_EQ(hid_.heldKeys(), (std::set<int32_t>{60}));
  EXPECT_EQ(iokit::takePostedEvents(),
            (std::vector<PostedEvent>{keyEvent(hid_, 12, 56, 0x20102, 1), keyEvent(hid_, 12, 60, 0x20106, 1),
                                      keyEvent(hid_, 12, 56, 0x20104, 1)}));
}

TEST_F(HidSystemTest, KeysThatChangeNoFlagPostKeyEvents) {
  // Caps lock is a lock, not a held modifier; releasing a key that was
  // never pressed leaves the flags as they were.
  hid_.postModifierKey(59, true);
  hid_.postModifierKey(57, true);
  hid_.postModifierKey(57, false);
  hid_.postModifierKey(58, false);
  hid_.postModifierKey(40, true);
  EXPECT_EQ(hid_.flags(), 0x40001u);
  EXPECT_EQ(iokit::takePostedEvents(),
            (std::vector<PostedEvent>{keyEvent(hid_, 12, 59, 0x40101, 1), keyEvent(hid_, 10, 57, 0x40101, 0),
                                      keyEvent(hid_, 11, 57, 0x40101, 0), keyEvent(hid_, 11, 58, 0x40101, 0),
                                      keyEvent(hid_, 10, 40, 0x40101, 0)}));
}

TEST_F(HidSystemTest, CapsLockStateAndAuxKeys) {
  EXPECT_FALSE(hid_.getCapsLock());
  hid_.setCapsLock(true);
  EXPECT_TRUE(hid_.getCapsLock());
  hid_.setCapsLock(false);
  EXPECT_FALSE(hid_.getCapsLock());

  hid_.postModifierKey(55, true);
  (void)iokit::takePostedEvents();
  hid_.postAuxKey(16, true);
  hid_.postAuxKey(16, false);
  std::vector<PostedEvent> events = iokit::takePostedEvents();
  ASSERT_EQ(events.size(), 2u);
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].type, 14u);
    EXPECT_EQ(events[i].data.subtype, 8);
    EXPECT_EQ(events[i].flags, 0x100108u);
    EXPECT_EQ(events[i].options, 0u);
    EXPECT_EQ(events[i].location, iokit::Point{});
  }
  EXPECT_EQ(events[0].data.words[0], 0x100A00);
  EXPECT_EQ(events[1].data.words[0], 0x100B00);

  // The raw form passes the flags as they are.
  os::HidSystem::postEventRaw(hid_.handle(), 10, iokit::Point{3, 4}, iokit::EventData{}, 0x2, 0);
  events = iokit::takePostedEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].flags, 0x2u);
  EXPECT_EQ(events[0].location, (iokit::Point{3, 4}));
}

TEST_F(HidSystemTest, FailuresNameTheCallAndKeepTheFlags) {
  os::HidSystem closed;
  const std::string bad = " failed: -536870206 (" + std::to_string(kBadArgument) + ")";
  EXPECT_EQ(failureOf<os::IOKitException>([&] { closed.postModifierKey(56, true); }, withStatus),
            "IOKit: IOHIDPostEvent" + bad);
  EXPECT_EQ(closed.flags(), 0x20002u);
  EXPECT_EQ(failureOf<os::IOKitException>([&] { (void)closed.getCapsLock(); }, withStatus),
            "IOKit: IOHIDGetModifierLockState" + bad);
  EXPECT_EQ(failureOf<os::IOKitException>([&] { closed.setCapsLock(true); }, withStatus),
            "IOKit: IOHIDSetModifierLockState" + bad);
  EXPECT_EQ(failureOf<os::IOKitException>([&] { closed.postAuxKey(16, true); }, withStatus),
            "IOKit: IOHIDPostEvent" + bad);
  EXPECT_TRUE(iokit::takePostedEvents().empty());
}

TEST_F(HidSystemTest, ReopeningAndDestructionCloseTheConnection) {
  EXPECT_EQ(iokit::openObjectCount(), baseline_ + 1);
  hid_.open();
  EXPECT_EQ(iokit::openObjectCount(), baseline_ + 1);
  {
    os::HidSystem other;
    other.open();
    EXPECT_EQ(iokit::openObjectCount(), baseline_ + 2);
  }
  EXPECT_EQ(iokit::openObjectCount(), baseline_ + 1);
}

}  // namespace
