#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/objc/NotificationCenter.h"
#include "platform/objc/Object.h"
#include "platform/objc/Observable.h"
#include "platform/objc/String.h"
#include "qocore/base/plat/Exception.h"

namespace {

// Counts the deletions of its instances.
class Counted : public objc::Object {
 public:
  explicit Counted(int* deleted) : deleted_(deleted) {}
  ~Counted() override { ++*deleted_; }

 private:
  int* deleted_;
};

TEST(AutoreleasePool, ReleasesWhatWasAutoreleasedWhileInnermost) {
  int deleted = 0;
  objc::AutoreleasePool outer;
  Counted* kept = new Counted(&deleted);
  kept->retain();
  kept->autorelease();
  {
    objc::AutoreleasePool inner;
    EXPECT_EQ(objc::AutoreleasePool::current(), &inner);
    objc::AutoreleasePool::current()->add(new Counted(&deleted));
    (new Counted(&deleted))->autorelease();
    EXPECT_EQ(inner.count(), 2);
    EXPECT_EQ(outer.count(), 1);
  }
  // The inner pool freed its two; the retained object survives the outer
  // pool's release too until its last reference goes.
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(objc::AutoreleasePool::current(), &outer);
  EXPECT_EQ(kept->retainCount(), 2);
  kept->release();
}

TEST(AutoreleasePool, DrainsObjectsAutoreleasedWhileDraining) {
  // An object whose destruction autoreleases another: the pool drains it too.
  class Chain : public objc::Object {
   public:
    Chain(int* deleted, int depth) : deleted_(deleted), depth_(depth) {}
    ~Chain() override {
      ++*deleted_;
      if (depth_ > 0) (new Chain(deleted_, depth_ - 1))->autorelease();
    }

   private:
    int* deleted_;
    int depth_;
  };
  int deleted = 0;
  {
    objc::AutoreleasePool pool;
    (new Chain(&deleted, 3))->autorelease();
  }
  EXPECT_EQ(deleted, 4);
  EXPECT_EQ(objc::AutoreleasePool::current(), nullptr);
}

TEST(AutoreleasePool, WithoutAPoolTheObjectLivesUntilTheThreadEnds) {
  int deleted = 0;
  int deletedInThread = -1;
  std::thread([&] {
    (new Counted(&deleted))->autorelease();
    deletedInThread = deleted;
  }).join();
  EXPECT_EQ(deletedInThread, 0);
  EXPECT_EQ(deleted, 1);
}

TEST(String, CreateAnswersNullForMalformedBytes) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain", true},
      {"caf\xc3\xa9", true},
      {std::string("a\0b", 3), true},
      {"caf\xc3", false},
      {"\xff", false},
      {std::string("a\0\xff", 3), false},  // past an embedded NUL too
      {"\xed\xa0\x80", false},             // a surrogate
  };
  for (const Case& c : cases) {
    objc::String* s = objc::String::create(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(s != nullptr, c.valid) << testing::PrintToString(c.bytes);
    if (s) {
      EXPECT_EQ(std::string(s->utf8(), s->length()), c.bytes);
      s->release();
    }
  }
}

TEST(Class, ReplacesOnlyKnownMethods) {
  static auto one = [] {};
  static auto two = [] {};
  objc::Imp a = +one;
  objc::Imp b = +two;
  objc::Class cls("Widget");
  cls.addMethod("draw", a);
  EXPECT_EQ(cls.setMethod("draw", b), a);
  EXPECT_EQ(cls.method("draw"), b);
  EXPECT_EQ(cls.setMethod("missing", a), nullptr);
  EXPECT_EQ(cls.method("missing"), nullptr);
}

class Recorder : public objc::KvoTarget {
 public:
  void observeValue(objc::String* keyPath, objc::Object*, objc::Object* change, void* context) override {
    seen.push_back(std::string(keyPath->utf8()) + (change ? "+new" : "") + (context ? "+ctx" : ""));
    if (onChange) onChange();
  }
  std::vector<std::string> seen;
  std::function<void()> onChange;
};

TEST(Observable, TellsObserversOfTheChangedKeyPath) {
  objc::AutoreleasePool pool;
  Recorder* r = new Recorder;
  objc::Observable* o = new objc::Observable;
  int ctx = 0;
  o->addObserver(r, objc::String::withUtf8("title"), objc::Observable::kNew, nullptr);
  o->addObserver(r, objc::String::withUtf8("frame"), 0, &ctx);
  o->didChange("title", o);
  o->didChange("frame", o);
  o->didChange("other", o);
  EXPECT_EQ(r->seen, (std::vector<std::string>{"title+new", "frame+ctx"}));
  o->removeObserver(r, objc::String::withUtf8("title"));
  o->didChange("title", o);
  EXPECT_EQ(r->seen.size(), 2u);
  EXPECT_THROW(o->removeObserver(r, objc::String::withUtf8("title")), plat::Exception);
  o->removeObserver(r, objc::String::withUtf8("frame"));
  o->release();
  r->release();
}

// A key path string that only the registration holds, so that removing
// the registration frees it.
void observe(objc::Observable* o, Recorder* r, const char* keyPath) {
  objc::String* s = objc::String::create(keyPath, strlen(keyPath));
  o->addObserver(r, s, 0, nullptr);
  s->release();
}

TEST(Observable, AnObserverRemovedByAnEarlierCalloutOfTheNoticeIsNotTold) {
  struct Case {
    const char* name;
    // What the first observer's callout does to the second one.
    std::function<void(objc::Observable*, Recorder*)> act;
    bool destroys;
    // What the second one then hears: in this notice, and in the next one.
    int heardNow, heardNext;
  };
  const Case cases[] = {
      {"destroyed",
       [](objc::Observable* o, Recorder* victim) {
         o->removeObserver(victim, objc::String::withUtf8("title"));
         victim->release();
       },
       true, 0, 0},
      // The new registration began after the notice: it hears the next one.
      {"removed and registered again",
       [](objc::Observable* o, Recorder* victim) {
         o->removeObserver(victim, objc::String::withUtf8("title"));
         observe(o, victim, "title");
       },
       false, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    objc::AutoreleasePool pool;
    auto* o = new objc::Observable;
    auto* first = new Recorder;
    auto* second = new Recorder;
    int secondHeard = 0;
    second->onChange = [&secondHeard] { ++secondHeard; };
    observe(o, first, "title");
    observe(o, second, "title");
    bool acted = false;
    first->onChange = [&] {
      if (!std::exchange(acted, true)) c.act(o, second);
    };
    o->didChange("title", nullptr);
    EXPECT_EQ(1u, first->seen.size());
    EXPECT_EQ(c.heardNow, secondHeard);
    o->didChange("title", nullptr);
    EXPECT_EQ(c.heardNow + c.heardNext, secondHeard);
    o->release();
    first->release();
    if (!c.destroys) second->release();
  }
}

// Records notifications; its "drop:" selector removes another observer.
class Listener : public objc::Object {
 public:
  Listener(std::vector<std::string>* log, const char* tag) : log_(log), tag_(tag) {}
  void perform(const char* selector, objc::Object* argument) override {
    auto* n = static_cast<objc::Notification*>(argument);
    log_->push_back(tag_ + ":" + selector + n->name());
    if (victim) objc::NotificationCenter::defaultCenter().removeObserver(victim);
  }
  objc::Object* victim = nullptr;

 private:
  std::vector<std::string>* log_;
  std::string tag_;
};

TEST(NotificationCenter, DeliversByNameAndObjectAndSkipsRemovedObservers) {
  auto& center = objc::NotificationCenter::defaultCenter();
  std::vector<std::string> log;
  Listener* a = new Listener(&log, "a");
  Listener* b = new Listener(&log, "b");
  Listener* c = new Listener(&log, "c");
  objc::Object* sender = new Listener(&log, "sender");
  center.addObserver(a, "x:", "Ping", nullptr);
  center.addObserver(b, "y:", nullptr, sender);
  center.addObserver(c, "z:", "Ping", nullptr);
  center.post("Ping", nullptr);  // b only listens to sender
  center.post("Pong", sender);
  a->victim = c;
  center.post("Ping", sender);  // a removes c before its turn
  EXPECT_EQ(log, (std::vector<std::string>{"a:x:Ping", "c:z:Ping", "b:y:Pong", "a:x:Ping", "b:y:Ping"}));
  for (objc::Object* o :
       {static_cast<objc::Object*>(a), static_cast<objc::Object*>(b), static_cast<objc::Object*>(c), sender}) {
    center.removeObserver(o);
    o->release();
  }
  EXPECT_EQ(center.registrationCount(), 0);
}

TEST(NotificationCenter, AnObserverWithoutTheSelectorFailsThePost) {
  auto& center = objc::NotificationCenter::defaultCenter();
  objc::Object* plain = new objc::Object;
  center.addObserver(plain, "nfn:", "Ping", nullptr);
  try {
    center.post("Ping", nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "Unrecognized selector nfn:");
  }
  center.removeObserver(plain);
  plain->release();
}

}  // namespace

TEST(StringTest, Utf16IndexingAndRanges) {
  objc::AutoreleasePool pool;
  // "a", "é" (two bytes), a character beyond the basic plane (a pair).
  objc::String* s = objc::String::withUtf8("a\xC3\xA9\xF0\x9F\x98\x80");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->byteLength(), 7u);
  EXPECT_EQ(s->utf16Length(), 4u);
  EXPECT_EQ(s->characters(), (std::vector<uint16_t>{0x61, 0xE9, 0xD83D, 0xDE00}));
  EXPECT_EQ(s->characterAt(1), 0xE9);
  EXPECT_EQ(s->characterAt(4), 0);
  objc::String* sub = s->substring(1, 3);
  ASSERT_NE(sub, nullptr);
  EXPECT_STREQ(sub->utf8(), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(s->substring(2, 1), nullptr);  // half a pair
  EXPECT_EQ(s->substring(3, 2), nullptr);  // past the end
  EXPECT_EQ(s->substring(4, 0)->utf16Length(), 0u);
  const uint16_t lone[] = {0x41, 0xDC00};
  EXPECT_EQ(objc::String::fromUtf16(lone, 2), nullptr);
}
