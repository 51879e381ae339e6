#include "qocore/base/os/mac/NSUtil.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/status/StatusText.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Utf8.h"

namespace os {

namespace {

// Made by the static initialiser, so that the `Log` setting binds it, and
// never destroyed: code that runs during exit may still log.
PLAT_LOG_SOURCE(vlog, "osNSUtil");

// A Latin letter and one combining mark, and the letter that composes
// them (sorted by letter, then mark).
struct Composition {
  char base;
  uint16_t mark;
  uint16_t composed;
};
constexpr Composition kCompositions[] = {
    {'A', 0x300, 0x00C0}, {'A', 0x301, 0x00C1}, {'A', 0x302, 0x00C2}, {'A', 0x303, 0x00C3}, {'A', 0x304, 0x0100},
    {'A', 0x306, 0x0102}, {'A', 0x308, 0x00C4}, {'A', 0x30A, 0x00C5}, {'A', 0x328, 0x0104}, {'C', 0x301, 0x0106},
    {'C', 0x302, 0x0108}, {'C', 0x307, 0x010A}, {'C', 0x30C, 0x010C}, {'C', 0x327, 0x00C7}, {'D', 0x30C, 0x010E},
    {'E', 0x300, 0x00C8}, {'E', 0x301, 0x00C9}, {'E', 0x302, 0x00CA}, {'E', 0x304, 0x0112}, {'E', 0x306, 0x0114},
    {'E', 0x307, 0x0116}, {'E', 0x308, 0x00CB}, {'E', 0x30C, 0x011A}, {'E', 0x328, 0x0118}, {'G', 0x302, 0x011C},
    {'G', 0x306, 0x011E}, {'G', 0x307, 0x0120}, {'G', 0x327, 0x0122}, {'H', 0x302, 0x0124}, {'I', 0x300, 0x00CC},
    {'I', 0x301, 0x00CD}, {'I', 0x302, 0x00CE}, {'I', 0x303, 0x0128}, {'I', 0x304, 0x012A}, {'I', 0x306, 0x012C},
    {'I', 0x307, 0x0130}, {'I', 0x308, 0x00CF}, {'I', 0x328, 0x012E}, {'J', 0x302, 0x0134}, {'K', 0x327, 0x0136},
    {'L', 0x301, 0x0139}, {'L', 0x30C, 0x013D}, {'L', 0x327, 0x013B}, {'N', 0x301, 0x0143}, {'N', 0x303, 0x00D1},
    {'N', 0x30C, 0x0147}, {'N', 0x327, 0x0145}, {'O', 0x300, 0x00D2}, {'O', 0x301, 0x00D3}, {'O', 0x302, 0x00D4},
    {'O', 0x303, 0x00D5}, {'O', 0x304, 0x014C}, {'O', 0x306, 0x014E}, {'O', 0x308, 0x00D6}, {'O', 0x30B, 0x0150},
    {'R', 0x301, 0x0154}, {'R', 0x30C, 0x0158}, {'R', 0x327, 0x0156}, {'S', 0x301, 0x015A}, {'S', 0x302, 0x015C},
    {'S', 0x30C, 0x0160}, {'S', 0x327, 0x015E}, {'T', 0x30C, 0x0164}, {'T', 0x327, 0x0162}, {'U', 0x300, 0x00D9},
    {'U', 0x301, 0x00DA}, {'U', 0x302, 0x00DB}, {'U', 0x303, 0x0168}, {'U', 0x304, 0x016A}, {'U', 0x306, 0x016C},
    {'U', 0x308, 0x00DC}, {'U', 0x30A, 0x016E}, {'U', 0x30B, 0x0170}, {'U', 0x328, 0x0172}, {'W', 0x302, 0x0174},
    {'Y', 0x301, 0x00DD}, {'Y', 0x302, 0x0176}, {'Y', 0x308, 0x0178}, {'Z', 0x301, 0x0179}, {'Z', 0x307, 0x017B},
    {'Z', 0x30C, 0x017D}, {'a', 0x300, 0x00E0}, {'a', 0x301, 0x00E1}, {'a', 0x302, 0x00E2}, {'a', 0x303, 0x00E3},
    {'a', 0x304, 0x0101}, {'a', 0x306, 0x0103}, {'a', 0x308, 0x00E4}, {'a', 0x30A, 0x00E5}, {'a', 0x328, 0x0105},
    {'c', 0x301, 0x0107}, {'c', 0x302, 0x0109}, {'c', 0x307, 0x010B}, {'c', 0x30C, 0x010D}, {'c', 0x327, 0x00E7},
    {'d', 0x30C, 0x010F}, {'e', 0x300, 0x00E8}, {'e', 0x301, 0x00E9}, {'e', 0x302, 0x00EA}, {'e', 0x304, 0x0113},
    {'e', 0x306, 0x0115}, {'e', 0x307, 0x0117}, {'e', 0x308, 0x00EB}, {'e', 0x30C, 0x011B}, {'e', 0x328, 0x0119},
    {'g', 0x302, 0x011D}, {'g', 0x306, 0x011F}, {'g', 0x307, 0x0121}, {'g', 0x327, 0x0123}, {'h', 0x302, 0x0125},
    {'i', 0x300, 0x00EC}, {'i', 0x301, 0x00ED}, {'i', 0x302, 0x00EE}, {'i', 0x303, 0x0129}, {'i', 0x304, 0x012B},
    {'i', 0x306, 0x012D}, {'i', 0x308, 0x00EF}, {'i', 0x328, 0x012F}, {'j', 0x302, 0x0135}, {'k', 0x327, 0x0137},
    {'l', 0x301, 0x013A}, {'l', 0x30C, 0x013E}, {'l', 0x327, 0x013C}, {'n', 0x301, 0x0144}, {'n', 0x303, 0x00F1},
    {'n', 0x30C, 0x0148}, {'n', 0x327, 0x0146}, {'o', 0x300, 0x00F2}, {'o', 0x301, 0x00F3}, {'o', 0x302, 0x00F4},
    {'o', 0x303, 0x00F5}, {'o', 0x304, 0x014D}, {'o', 0x306, 0x014F}, {'o', 0x308, 0x00F6}, {'o', 0x30B, 0x0151},
    {'r', 0x301, 0x0155}, {'r', 0x30C, 0x0159}, {'r', 0x327, 0x0157}, {'s', 0x301, 0x015B}, {'s', 0x302, 0x015D},
    {'s', 0x30C, 0x0161}, {'s', 0x327, 0x015F}, {'t', 0x30C, 0x0165}, {'t', 0x327, 0x0163}, {'u', 0x300, 0x00F9},
    {'u', 0x301, 0x00FA}, {'u', 0x302, 0x00FB}, {'u', 0x303, 0x0169}, {'u', 0x304, 0x016B}, {'u', 0x306, 0x016D},
    {'u', 0x308, 0x00FC}, {'u', 0x30A, 0x016F}, {'u', 0x30B, 0x0171}, {'u', 0x328, 0x0173}, {'w', 0x302, 0x0175},
    {'y', 0x301, 0x00FD}, {'y', 0x302, 0x0177}, {'y', 0x308, 0x00FF}, {'z', 0x301, 0x017A}, {'z', 0x307, 0x017C},
    {'z', 0x30C, 0x017E},
};

// The composed letter of base + mark, 0 when there is none.
int32_t compose(char base, int32_t mark) noexcept {
  const Composition key{base, static_cast<uint16_t>(mark), 0};
  auto it = std::lower_bound(
      std::begin(kCompositions), std::end(kCompositions), key,
      [](const Composition& a, const Composition& b) { return a.base != b.base ? a.base < b.base : a.mark < b.mark; });
  return (it != std::end(kCompositions) && it->base == base && it->mark == mark) ? it->composed : 0;
}

bool isAsciiLetter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

// The bridge objects the platform calls.  Each holds a plain back pointer
// to its owner, cleared by the owner before it releases the bridge.
class NotificationBridge : public objc::Object {
 public:
  explicit NotificationBridge(NotificationObserver* owner) noexcept : owner_(owner) {}
  void clearOwner() noexcept { owner_ = nullptr; }

  void perform(const char* selector, objc::Object* argument) override {
    if (strcmp(selector, "nfn:") != 0) return objc::Object::perform(selector, argument);
    NotificationObserver* owner = owner_;
    if (!owner || !owner->callback()) return;
    try {
      owner->callback()->notify(owner, static_cast<objc::Notification*>(argument));
    } catch (const plat::Exception& e) {
      vlog().error("Unhandled exception: %s", e.str());
    }
  }

 private:
  NotificationObserver* owner_;
};

class KvoBridge : public objc::KvoTarget {
 public:
  explicit KvoBridge(KvoObserver* owner) noexcept : owner_(owner) {}
  void clearOwner() noexcept { owner_ = nullptr; }

  void observeValue(objc::String* keyPath, objc::Object* object, objc::Object* change, void* context) override {
    KvoObserver* owner = owner_;
    if (!owner || !owner->callback()) return;
    try {
      owner->callback()->changed(owner, object, keyPath, change, context);
    } catch (const plat::Exception& e) {
      vlog().error("Unhandled exception: %s", e.str());
    }
  }

 private:
  KvoObserver* owner_;
};

plat::CharArray appBundlePath(bool mustExist) {
  // Linux programs have no bundle.
  if (mustExist) throw plat::Exception("App bundle not found");
  return {};
}

plat::CharArray appResourcePath() { return plat::resource_dir::get(); }

plat::CharArray bundleIdentifier() { return {}; }

objc::String* nsStringFromUtf8(const char* bytes, int length) {
  if (!bytes) return nullptr;
  objc::String* s;
  if (length >= 0) {
    s = objc::String::create(bytes, static_cast<size_t>(length));
    if (s) s->autorelease();
  } else {
    s = objc::String::withUtf8(bytes);
  }
  if (!s) {
    plat::DString clean;
    plat::utf8Sanitise(clean, bytes, length >= 0 ? bytes + length : nullptr);
    s = objc::String::withUtf8(clean.c_str());
  }
  if (!s) throw plat::BadUtf8("Bad UTF-8 string");
  return s;
}

const char* nsStringUtf8(objc::String* string) noexcept { return string ? string->utf8() : nullptr; }

const char* precomposedUtf8(const char* text) {
  std::string out;
  const char* p = text;
  while (*p) {
    if (isAsciiLetter(*p)) {
      // A combining mark of U+0300-U+036F is two bytes: CC 80 to CD AF.
      const char* q = p + 1;
      unsigned char b0 = static_cast<unsigned char>(q[0]);
      if (b0 == 0xcc || b0 == 0xcd) {
        const char* cursor = q + 1;
        int32_t mark = plat::utf8Decode(b0, &cursor, 2);
        if (int32_t composed = mark >= 0x300 && mark <= 0x36f ? compose(*p, mark) : 0) {
          char buf[4];
          char* w = buf;
          plat::utf8Encode(composed, &w);
          out.append(buf, static_cast<size_t>(w - buf));
          p = cursor;
          continue;
        }
      }
    }
    out += *p++;
  }
  objc::String* s = objc::String::create(out.data(), out.size());
  // Malformed input passes through as it stands.
  if (!s) return text;
  s->autorelease();
  return s->utf8();
}

AutoreleasePool::AutoreleasePool() : pool_(std::make_unique<objc::AutoreleasePool>()) {}

AutoreleasePool::~AutoreleasePool() = default;

NotificationObserver::NotificationObserver(NotificationCallback* callback, objc::NotificationCenter* center,
                                           const char* name)
    : bridge_(new NotificationBridge(this)), callback_(callback), center_(center), observer_(bridge_) {
  if (name) {
    plat::ScopeExit undo([this] {
      center_->removeObserver(observer_);
      bridge_->clearOwner();
      bridge_->release();
    });
    center_->addObserver(observer_, "nfn:", name, nullptr);
    undo.dismiss();
  }
}

NotificationObserver::~NotificationObserver() {
  center_->removeObserver(observer_);
  bridge_->clearOwner();
  bridge_->release();
}

void NotificationObserver::observe(const char* name, objc::Object* object) {
  center_->addObserver(observer_, "nfn:", name, object);
}

NotificationRegistration::NotificationRegistration(objc::NotificationCenter* center, objc::Object* observer,
                                                   const char* selector, const char* name, objc::Object* object)
    : center_(center), observer_(observer) {
  if (selector) center_->addObserver(observer_, selector, name, object);
}

NotificationRegistration::~NotificationRegistration() { center_->removeObserver(observer_); }

void NotificationRegistration::observe(const char* selector, const char* name, objc::Object* object) {
  center_->addObserver(observer_, selector, name, object);
}

KvoObserver::KvoObserver(KvoCallback* callback, objc::Observable* object, objc::String* keyPath)
    : bridge_(new KvoBridge(this)),
      callback_(callback),
      observer_(bridge_),
      object_(object),
      keyPath_(keyPath->copy()) {
  plat::ScopeExit undo([this] {
    keyPath_->release();
    bridge_->release();
  });
  object_->addObserver(observer_, keyPath_, objc::Observable::kNew, nullptr);
  undo.dismiss();
}

KvoObserver::~KvoObserver() {
  try {
    object_->removeObserver(observer_, keyPath_);
  } catch (const plat::Exception& e) {
    vlog().error("Unhandled exception: %s", e.str());
  }
  keyPath_->release();
  bridge_->clearOwner();
  bridge_->release();
}

KvoRegistration::KvoRegistration(objc::KvoTarget* observer, objc::Observable* object, objc::String* keyPath,
                                 int options, void* context)
    : observer_(observer), object_(object), keyPath_(keyPath->copy()) {
  plat::ScopeExit undo([this] { keyPath_->release(); });
  object_->addObserver(observer_, keyPath_, options, context);
  undo.dismiss();
}

KvoRegistration::~KvoRegistration() {
  try {
    object_->removeObserver(observer_, keyPath_);
  } catch (const plat::Exception& e) {
    vlog().error("Unhandled exception: %s", e.str());
  }
  keyPath_->release();
}

objc::Imp replaceMethod(objc::Class* cls, const char* selector, objc::Imp imp) { return cls->setMethod(selector, imp); }

void setUIElement(bool) noexcept {
  // The bundle's information dictionary is immutable here.
}

objc::String* secErrorMessage(int32_t status) {
  char text[128];
  status::securityErrorMessage(status, text);
  return objc::String::create(text, strlen(text));
}

}  // namespace os
