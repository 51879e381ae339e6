#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/os/mac/NSUtil.h"
#include "qocore/base/plat/Resource.h"
#include "testing/LogCapture.h"

namespace {

TEST(NsString, FromUtf8ReplacesMalformedSequences) {
  struct Case {
    const char* bytes;
    int length;
    const char* expected;
  };
  const Case cases[] = {
      {"caf\xc3\xa9", -1, "caf\xc3\xa9"},
      {"caf\xc3\xa9 au lait", 5, "caf\xc3\xa9"},
      {"a\xff"
       "b",
       -1,
       "a\xef\xbf\xbd"
       "b"},
      {"a\xff"
       "b",
       3,
       "a\xef\xbf\xbd"
       "b"},
      {"caf\xc3\xa9", 4, "caf\xef\xbf\xbd"},  // the range cuts the é
      {"", -1, ""},
  };
  os::AutoreleasePool pool;
  for (const Case& c : cases) {
    objc::String* s = os::nsStringFromUtf8(c.bytes, c.length);
    ASSERT_NE(s, nullptr) << c.bytes;
    EXPECT_STREQ(os::nsStringUtf8(s), c.expected);
  }
  EXPECT_EQ(os::nsStringFromUtf8(nullptr), nullptr);
  EXPECT_EQ(os::nsStringUtf8(nullptr), nullptr);
}

TEST(NsString, PrecomposesLatinLetterAndOneMark) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"Cafe\xcc\x81", "Caf\xc3\xa9"},  // e + acute
      {"A\xcc\x8a"
       "ngstr\xc3\xb6m",
       "\xc3\x85ngstr\xc3\xb6m"},  // A + ring
      {"Z\xcc\x8c"
       "ak",
       "\xc5\xbd"
       "ak"},                      // Z + caron (Extended-A)
      {"q\xcc\x81", "q\xcc\x81"},  // no precomposed q-acute
      {"\xcc\x81"
       "e",
       "\xcc\x81"
       "e"},  // a mark with no letter before it
      {"1\xcc\x81", "1\xcc\x81"},
      {"plain", "plain"},
  };
  os::AutoreleasePool pool;
  for (const Case& c : cases) EXPECT_STREQ(os::precomposedUtf8(c.text), c.expected) << c.text;
}

plat::CharArray fixedResources() { return plat::CharArray("/opt/test/Resources"); }

TEST(Bundle, ThereIsNoBundle) {
  EXPECT_TRUE(os::appBundlePath(false).isNull());
  try {
    os::appBundlePath(true);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "App bundle not found");
  }
  EXPECT_TRUE(os::bundleIdentifier().isNull());
  auto previous = plat::resource_dir::set(fixedResources);
  EXPECT_STREQ(os::appResourcePath().get(), "/opt/test/Resources");
  plat::resource_dir::set(previous);
  os::setUIElement(true);  // an immutable dictionary: nothing to see, nothing to break
}

// Counts notifications; throws for those named "Bad".
class Counter : public os::NotificationCallback {
 public:
  void notify(os::NotificationObserver*, objc::Notification* n) override {
    names.push_back(n->name());
    if (names.back() == "Bad") throw plat::Exception("observer failed");
  }
  std::vector<std::string> names;
};

TEST(NotificationObserver, LogsAnEscapingExceptionAndKeepsDelivering) {
  yarl_test::LogCapture capture("osNSUtil:capture:110");
  objc::NotificationCenter center;
  Counter counter;
  {
    os::NotificationObserver observer(&counter, &center, "Bad");
    observer.observe("Good", nullptr);
    center.post("Bad", nullptr);
    center.post("Good", nullptr);
    center.post("Other", nullptr);
    EXPECT_EQ(center.registrationCount(), 2);
  }
  EXPECT_EQ(counter.names, (std::vector<std::string>{"Bad", "Good"}));
  EXPECT_EQ(capture.from("osNSUtil"),
            (std::vector<yarl_test::LogRecord>{{"osNSUtil", 0, "Unhandled exception: observer failed"}}));
  EXPECT_EQ(center.registrationCount(), 0);
}

TEST(NotificationObserver, ALateCallAfterTheOwnerWentDoesNothing) {
  objc::NotificationCenter center;
  Counter counter;
  objc::Notification* late = new objc::Notification("Ping", nullptr);
  objc::Object* bridge;
  {
    os::NotificationObserver observer(&counter, &center, "Ping");
    ASSERT_EQ(center.registrationCount(), 1);
    // The platform may still hold the bridge after its owner is gone.
    bridge = center.observerAt(0)->retain();
  }
  EXPECT_EQ(center.registrationCount(), 0);
  bridge->perform("nfn:", late);
  EXPECT_TRUE(counter.names.empty());
  bridge->release();
  late->release();
}

class ChangeLog : public os::KvoCallback {
 public:
  void changed(os::KvoObserver*, objc::Object*, objc::String* keyPath, objc::Object* change, void*) override {
    paths.push_back(std::string(keyPath->utf8()) + (change ? "+new" : ""));
    if (paths.back() == "broken+new") throw plat::Exception("callback failed");
  }
  std::vector<std::string> paths;
};

TEST(KvoObserver, ForwardsChangesWithTheNewValueUntilDestroyed) {
  yarl_test::LogCapture capture("osNSUtil:capture:110");
  os::AutoreleasePool pool;
  objc::Observable* object = new objc::Observable;
  ChangeLog log;
  {
    os::KvoObserver title(&log, object, os::nsStringFromUtf8("title"));
    os::KvoObserver broken(&log, object, os::nsStringFromUtf8("broken"));
    EXPECT_EQ(object->observerCount(), 2);
    object->didChange("title", object);
    object->didChange("broken", object);
    object->didChange("title", object);
  }
  EXPECT_EQ(object->observerCount(), 0);
  object->didChange("title", object);
  EXPECT_EQ(log.paths, (std::vector<std::string>{"title+new", "broken+new", "title+new"}));
  EXPECT_EQ(capture.from("osNSUtil").size(), 1u);
  object->release();
}

class PlainTarget : public objc::KvoTarget {
 public:
  void observeValue(objc::String*, objc::Object*, objc::Object* change, void* context) override {
    calls.push_back({change, context});
  }
  std::vector<std::pair<objc::Object*, void*>> calls;
};

TEST(KvoRegistration, RegistersWithTheGivenOptionsAndContext) {
  os::AutoreleasePool pool;
  objc::Observable* object = new objc::Observable;
  PlainTarget* target = new PlainTarget;
  int ctx = 0;
  {
    os::KvoRegistration withNew(target, object, os::nsStringFromUtf8("a"), objc::Observable::kNew, &ctx);
    os::KvoRegistration plain(target, object, os::nsStringFromUtf8("b"), 0, nullptr);
    object->didChange("a", target);
    object->didChange("b", target);
  }
  EXPECT_EQ(object->observerCount(), 0);
  ASSERT_EQ(target->calls.size(), 2u);
  EXPECT_EQ(target->calls[0], (std::pair<objc::Object*, void*>{target, &ctx}));
  EXPECT_EQ(target->calls[1], (std::pair<objc::Object*, void*>{nullptr, nullptr}));
  target->release();
  object->release();
}

void oldImp() {}
void newImp() {}

TEST(ReplaceMethod, AnswersTheOldImplementationOrNullForAnUnknownSelector) {
  objc::Class cls("Window");
  cls.addMethod("sendEvent:", oldImp);
  EXPECT_EQ(os::replaceMethod(&cls, "sendEvent:", newImp), &oldImp);
  EXPECT_EQ(cls.method("sendEvent:"), &newImp);
  EXPECT_EQ(os::replaceMethod(&cls, "missing:", oldImp), nullptr);
  EXPECT_EQ(cls.method("missing:"), nullptr);
  EXPECT_EQ(cls.method("sendEvent:"), &newImp);
}

TEST(SecErrorMessage, CommentOrGenericText) {
  objc::String* known = os::secErrorMessage(-60005);
  objc::String* unknown = os::secErrorMessage(-1);
  EXPECT_STREQ(known->utf8(), "The authorization was denied");
  EXPECT_STREQ(unknown->utf8(), "OSStatus -1");
  known->release();
  unknown->release();
}

}  // namespace
