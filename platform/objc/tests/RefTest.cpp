#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"

namespace {

// Writes its deletion to a log, with what its destructor sees.
class Logged : public objc::Object {
 public:
  Logged(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
  std::function<std::string()> onDelete;

 protected:
  ~Logged() override { log_->push_back(name_ + (onDelete ? " " + onDelete() : "")); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

class Derived : public Logged {
 public:
  using Logged::Logged;
};

TEST(Ref, RetainsOnCopyReleasesOnEveryExitAndAdoptsANewReference) {
  std::vector<std::string> log;
  objc::Ref<Logged> a = objc::adopt(new Logged(&log, "a"));
  EXPECT_EQ(a->retainCount(), 1);
  {
    objc::Ref<Logged> copy = a;
    objc::Ref<Logged> plain(a.get());
    EXPECT_EQ(a->retainCount(), 3);
    objc::Ref<Logged> moved = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(a->retainCount(), 3);
  }
  EXPECT_EQ(a->retainCount(), 1);
  // An exception on the way out releases as well.
  try {
    objc::Ref<Logged> held = a;
    throw std::runtime_error("out");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(a->retainCount(), 1);
  // Assigning the object held keeps it; another object replaces it.
  a = a.get();
  a = static_cast<objc::Ref<Logged>&>(a);
  EXPECT_EQ(a->retainCount(), 1);
  EXPECT_TRUE(log.empty());
  objc::Ref<Logged> base = objc::adopt<Derived>(new Derived(&log, "b"));
  a = base;
  EXPECT_EQ(log, (std::vector<std::string>{"a"}));
  EXPECT_EQ(a.get(), base.get());
  EXPECT_EQ(base->retainCount(), 2);
  // leak hands the reference out; the caller releases it.
  Logged* out = a.leak();
  EXPECT_FALSE(a);
  base.reset();
  EXPECT_EQ(log.size(), 1u);
  out->release();
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
}

TEST(WeakRef, ReadsNullOnceTheLastReferenceHasGoneAlreadyInTheDestructor) {
  std::vector<std::string> log;
  auto* object = new Logged(&log, "o");
  objc::WeakRef<Logged> weak(object);
  objc::WeakRef<Logged> copy = weak;
  object->onDelete = [&weak] { return weak.get() ? std::string("sees itself") : std::string("sees null"); };
  {
    objc::Ref<Logged> strong = weak.strong();
    EXPECT_EQ(strong.get(), object);
    object->release();
    EXPECT_EQ(copy.get(), object);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"o sees null"}));
  EXPECT_EQ(copy.get(), nullptr);
  EXPECT_FALSE(weak.strong());
  EXPECT_EQ(objc::WeakRef<Logged>().get(), nullptr);
}

TEST(RefVector, HoldsEachObjectOnceAndReleasesAfterTheListChanged) {
  std::vector<std::string> log;
  objc::RefVector<Logged> list;
  auto* a = new Logged(&log, "a");
  list.push_back(objc::adopt(a));
  auto* b = new Logged(&log, "b");
  list.insert(0, b);  // retained: the caller keeps its own reference
  b->release();
  auto* c = new Logged(&log, "c");
  list.push_back(objc::adopt(c));
  EXPECT_EQ(list.items(), (std::vector<Logged*>{b, a, c}));
  EXPECT_EQ(list.indexOf(c), 2u);
  EXPECT_EQ(list.indexOf(nullptr), 3u);
  // Each destructor sees the list already without its object.
  for (Logged* o : list) o->onDelete = [&list] { return std::to_string(list.size()); };
  { objc::Ref<Logged> taken = list.remove(a); }
  EXPECT_FALSE(list.remove(a));
  EXPECT_EQ(log, (std::vector<std::string>{"a 2"}));
  std::vector<objc::Ref<Logged>> kept = list.snapshot();
  list.clear();
  EXPECT_TRUE(log.size() == 1 && list.empty());
  kept.clear();
  EXPECT_EQ(log, (std::vector<std::string>{"a 2", "b 0", "c 0"}));
}

TEST(RefDeathTest, AReferenceTakenOrDroppedOnceTheLastHasGoneIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::vector<std::string> log;
  // A destructor that holds its own object, as a callout of it might.
  EXPECT_EXIT(
      {
        auto* object = new Logged(&log, "o");
        object->onDelete = [object] {
          objc::Ref<Logged> held(object);
          return std::string();
        };
        object->release();
      },
      testing::KilledBySignal(SIGABRT), "Assertion 'before > 0' failed");
  EXPECT_EXIT(
      {
        auto* object = new Logged(&log, "o");
        object->onDelete = [object] {
          object->release();
          return std::string();
        };
        object->release();
      },
      testing::KilledBySignal(SIGABRT), "Assertion 'before > 0' failed");
}

TEST(Liveness, TokensTellWhetherTheOwnerStillExists) {
  auto* owner = new objc::Liveness;
  objc::Liveness::Token token = owner->token();
  objc::Liveness::Token copy = token;
  EXPECT_TRUE(token.alive());
  delete owner;
  EXPECT_FALSE(token);
  EXPECT_FALSE(copy.alive());
}

}  // namespace
