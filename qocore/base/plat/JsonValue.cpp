#include "qocore/base/plat/JsonValue.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Json.h"
#include "qocore/base/plat/JsonArena.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace plat {

namespace {

const char* printableName(const char* name) noexcept { return name ? name : "(null)"; }

void writeBlanks(rdr::OutStream& out, int n) {
  static constexpr char kBlanks[] = "                                                                ";
  constexpr int kRun = sizeof(kBlanks) - 1;
  for (; n > 0; n -= kRun) out.writeBytes(kBlanks, n < kRun ? n : kRun);
}

void writeLiteral(rdr::OutStream& out, const char* text) {
  out.writeBytes(text, static_cast<int32_t>(std::strlen(text)));
}

void writeEscapedUnit(rdr::OutStream& out, uint32_t unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char buf[6] = {
      '\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF], kHex[(unit >> 4) & 0xF], kHex[unit & 0xF]};
  out.writeBytes(buf, sizeof(buf));
}

// A double-quoted string.  Printable ASCII and valid characters up to
// U+FFFF go out as they are, characters above U+FFFF as escaped surrogate
// pairs, and each malformed sequence as U+FFFD (the way utf8Sanitise
// repairs text), so a bad byte never cuts the rest of the string off.
void writeString(rdr::OutStream& out, const char* text) {
  out.writeU8('"');
  const char* p = text ? text : "";
  const char* run = p;  // start of the bytes that go out unchanged
  for (;;) {
    const unsigned char b = static_cast<unsigned char>(*p);
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
      ++p;
      continue;
    }
    if (b >= 0x80) {
      const char* next = p + 1;
      const int32_t cp = utf8Decode(b, &next, 4);
      if (cp >= 0 && cp <= 0xFFFF) {
        p = next;
        continue;
      }
      out.writeBytes(run, static_cast<int32_t>(p - run));
      if (cp < 0) {
        out.writeBytes("\xEF\xBF\xBD", 3);
      } else {
        writeEscapedUnit(out, 0xD800 + ((static_cast<uint32_t>(cp) - 0x10000) >> 10));
        writeEscapedUnit(out, 0xDC00 + (static_cast<uint32_t>(cp) & 0x3FF));
      }
      p = run = next;
      continue;
    }
    out.writeBytes(run, static_cast<int32_t>(p - run));
    if (b == 0) break;
    switch (b) {
      case '\t':
        out.writeBytes("\\t", 2);
        break;
      case '\n':
        out.writeBytes("\\n", 2);
        break;
      case '\r':
        out.writeBytes("\\r", 2);
        break;
      case '"':
        out.writeBytes("\\\"", 2);
        break;
      case '\\':
        out.writeBytes("\\\\", 2);
        break;
      default:
        writeEscapedUnit(out, b);
        break;
    }
    run = ++p;
  }
  out.writeU8('"');
}

// Whether writeString puts the text out other than byte for byte: a null
// text, or one holding a malformed sequence that becomes U+FFFD.
bool writtenRepaired(const char* text) noexcept {
  if (!text) return true;
  for (const char* p = text; *p;) {
    const unsigned char b = static_cast<unsigned char>(*p);
    if (b < 0x80) {
      ++p;
      continue;
    }
    const char* next = p + 1;
    if (utf8Decode(b, &next, 4) < 0) return true;
    p = next;
  }
  return false;
}

// Names that differ only in malformed bytes (or a null name next to an
// empty one) would go out as one name twice, a text the parser refuses.
// Repaired names are rare, so the full check runs only when one is there.
void checkNamesWrittenApart(const JsonObject::Members& members) {
  bool anyRepaired = false;
  for (const JsonObject::Member& m : members) {
    if (writtenRepaired(m.name.get())) {
      anyRepaired = true;
      break;
    }
  }
  if (!anyRepaired) return;
  std::unordered_set<std::string> written;
  for (const JsonObject::Member& m : members) {
    rdr::MemOutStream out;
    writeString(out, m.name.get());
    const SecretText name = SecretText::adopt(out.takeString());
    const bool fresh = written.emplace(name.c_str()).second;
    if (!fresh) {
      throw JsonException("Two JSON object member names would be written alike");
    }
  }
}

}  // namespace

// ---- JsonException ----

JsonException::JsonException(const char* message) noexcept : Exception(message) { setType("JsonException"); }

JsonException JsonException::typeError() noexcept {
  JsonException e("Unexpected JSON type");
  e.setType("Json");
  return e;
}

// ---- JsonValue ----

// Heap blocks keep the object at the alignment operator new promises.
namespace {
constexpr size_t kHeapHeader = 16;

// The chunks of documents that have gone are kept, up to this many bytes,
// for the documents that follow.  Handed back to the C library instead,
// they would let it give the top of its heap back to the system once more
// than its trim threshold lies free there, and each page of the next large
// document would then be faulted in afresh, which costs more than the
// parse itself.
constexpr size_t kMaxSpareBytes = 64 * 1024 * 1024;

constinit Mutex gSpareMutex;
JsonArenaChunk* gSpareChunks PLAT_GUARDED_BY(gSpareMutex) = nullptr;
size_t gSpareBytes PLAT_GUARDED_BY(gSpareMutex) = 0;

// A kept chunk of at least `room` bytes but less than twice that, or null.
JsonArenaChunk* takeSpareChunk(size_t room) noexcept {
  MutexLock lock(gSpareMutex);
  for (JsonArenaChunk** link = &gSpareChunks; *link; link = &(*link)->next) {
    JsonArenaChunk* c = *link;
    if (c->room >= room && c->room / 2 < room) {
      *link = c->next;
      gSpareBytes -= c->room;
      return c;
    }
  }
  return nullptr;
}

// Keeps what fits of a list of chunks and frees the rest.
void putSpareChunks(JsonArenaChunk* chunks) noexcept {
  JsonArenaChunk* unkept = nullptr;
  {
    MutexLock lock(gSpareMutex);
    while (chunks) {
      JsonArenaChunk* c = chunks;
      chunks = c->next;
      if (c->room <= kMaxSpareBytes - gSpareBytes) {
        c->next = gSpareChunks;
        gSpareChunks = c;
        gSpareBytes += c->room;
      } else {
        c->next = unkept;
        unkept = c;
      }
    }
  }
  while (unkept) {
    JsonArenaChunk* c = unkept;
    unkept = c->next;
    std::free(c);
  }
}
}  // namespace

void JsonValue::Arena::Region::openChunk(size_t room) {
  noteUsed();
  JsonArenaChunk* chunk = takeSpareChunk(room);
  if (!chunk) {
    if (room > SIZE_MAX - sizeof(JsonArenaChunk)) throw std::bad_alloc();
    chunk = static_cast<JsonArenaChunk*>(std::malloc(sizeof(JsonArenaChunk) + room));
    if (!chunk) throw std::bad_alloc();
    chunk->room = room;
  }
  chunk->next = chunks;
  chunk->used = 0;
  chunks = chunk;
  next = reinterpret_cast<unsigned char*>(chunk + 1);
  end = next + chunk->room;
  chunkSize = std::min(chunkSize * 2, kLargestChunk);
}

// Kept out of line: the compiler would otherwise pair the malloc here with
// the free below and call them mismatched, not seeing the header between.
[[gnu::noinline]] void* JsonValue::operator new(size_t size) {
  if (size > SIZE_MAX - kHeapHeader) throw std::bad_alloc();
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeapHeader));
  if (!block) throw std::bad_alloc();
  unsigned char* object = block + kHeapHeader;
  reinterpret_cast<Arena**>(object)[-1] = nullptr;
  return object;
}

struct JsonValue::ThreadState {
  // Where the next container storage goes (null: the heap).
  void* storageAt = nullptr;
  // Whether a container is destroying its items; the arena whose counts
  // are being gathered meanwhile, and how many.
  bool batching = false;
  Arena* batchArena = nullptr;
  size_t batched = 0;
};

// Initial-exec: one load, where the general model calls into the dynamic
// linker on every value deleted.
[[gnu::tls_model("initial-exec")]] thread_local JsonValue::ThreadState JsonValue::threadState_;

[[gnu::noinline]] void JsonValue::operator delete(void* p) noexcept {
  if (!p) return;
  Arena* arena = static_cast<Arena**>(p)[-1];
  if (!arena) {
    std::free(static_cast<unsigned char*>(p) - kHeapHeader);
    return;
  }
  ThreadState& t = threadState_;
  if (t.batching && (t.batchArena == arena || !t.batchArena)) {
    // The arena stays at least until the gathered counts are handed over.
    t.batchArena = arena;
    ++t.batched;
    return;
  }
  releaseArena(arena);
}

bool JsonValue::beginReleaseBatch() noexcept {
  ThreadState& t = threadState_;
  if (t.batching) return false;
  t.batching = true;
  return true;
}

void JsonValue::endReleaseBatch() noexcept {
  ThreadState& t = threadState_;
  Arena* const arena = std::exchange(t.batchArena, nullptr);
  const size_t count = std::exchange(t.batched, 0);
  t.batching = false;
  if (arena) releaseArena(arena, count);
}

JsonValue::Arena* JsonValue::newArena() { return new Arena; }

void* JsonValue::storageAlloc(size_t size) {
  if (void* block = std::exchange(threadState_.storageAt, nullptr)) return block;
  return operator new(size);
}

void JsonValue::placeStorageAt(void* block) noexcept { threadState_.storageAt = block; }

void JsonValue::releaseArena(Arena* a) noexcept { releaseArena(a, 1); }

void JsonValue::releaseArena(Arena* a, size_t count) noexcept {
  if (a->live.fetch_sub(count, std::memory_order_acq_rel) > count) return;
  // The strings' texts may be secrets; those of a tree dropped whole were
  // not wiped one by one.
  a->strings.noteUsed();
  for (JsonArenaChunk* c = a->strings.chunks; c; c = c->next) secureZero(c + 1, c->used);
  putSpareChunks(a->values.chunks);
  putSpareChunks(a->strings.chunks);
  delete a;
}

bool JsonValue::takeWholeArena() noexcept {
  Arena* a = Arena::of(this);
  if (!a || a->root != this || a->shared.load(std::memory_order_relaxed)) return false;
  // Every other value of the arena is held by this tree alone and goes
  // with it, without being destroyed: the count drops to the root's own,
  // which its operator delete gives back, taking the chunks with it.
  a->live.store(1, std::memory_order_relaxed);
  return true;
}

void JsonValue::noteHandedOut(const JsonValue* value) noexcept {
  // Only arena values carry a header; heap values have null there too.
  Arena* a = Arena::of(value);
  if (a && a->root != value) a->share();
}

void JsonValue::noteChanged() noexcept {
  if (Arena* a = Arena::of(this)) a->share();
}

JsonValue::~JsonValue() = default;

JsonNumber& JsonValue::asNumber() { throw JsonException::typeError(); }
JsonBool& JsonValue::asBool() { throw JsonException::typeError(); }
JsonNull& JsonValue::asNull() { throw JsonException::typeError(); }
JsonString& JsonValue::asString() { throw JsonException::typeError(); }
JsonObject& JsonValue::asObject() { throw JsonException::typeError(); }
JsonArray& JsonValue::asArray() { throw JsonException::typeError(); }

TimeValue JsonValue::asTime() {
  TimeValue t = 0;
  if (!parseIsoDate(t, asString().get())) throw JsonException::typeError();
  return t;
}

MBuf<unsigned char> JsonValue::asBinary() {
  MBuf<unsigned char> bytes;
  if (!base64Decode(asString().get(), bytes)) throw JsonException::typeError();
  return bytes;
}

CharArray JsonValue::toText() const {
  rdr::MemOutStream out;
  write(out, 0);
  return out.takeString();
}

JsonRef JsonValue::clone() const {
  // The text may hold a secret the tree carries.
  const SecretText text = SecretText::adopt(toText());
  JsonReader reader(text.c_str(), static_cast<int32_t>(text.length()), true);
  return Json::parseHttpBody(nullptr, reader);
}

// ---- JsonRef ----

JsonObjectRef JsonRef::asObject() const {
  if (!get()) throw JsonException::typeError();
  get()->asObject();
  return JsonObjectRef(*this);
}

JsonArrayRef JsonRef::asArray() const {
  if (!get()) throw JsonException::typeError();
  get()->asArray();
  return JsonArrayRef(*this);
}

// ---- Scalars ----

void JsonNull::write(rdr::OutStream& out, int) const { writeLiteral(out, "null"); }

void JsonBool::write(rdr::OutStream& out, int) const { writeLiteral(out, value_ ? "true" : "false"); }

void JsonNumber::write(rdr::OutStream& out, int) const {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof(buf), value_);
  out.writeBytes(buf, static_cast<int32_t>(result.ptr - buf));
}

int64_t JsonNumber::getInRange(int64_t min, int64_t max) const {
  if (value_ < min || value_ > max) {
    throw JsonException("Unexpected value: %lld out of range [%lld,%lld]", static_cast<long long>(value_),
                        static_cast<long long>(min), static_cast<long long>(max));
  }
  return value_;
}

int32_t JsonNumber::getInt() const noexcept {
  if (value_ > INT32_MAX) return INT32_MAX;
  if (value_ < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value_);
}

JsonString::~JsonString() {
  char* text = get();
  if (!text) return;
  secureZero(text, std::strlen(text));
  // The parser places the text right after the value, in the same block.
  if (text == reinterpret_cast<char*>(this + 1)) (void)release();
}

void JsonString::write(rdr::OutStream& out, int) const { writeString(out, get()); }

JsonString& JsonString::checkLength(int max) {
  if (static_cast<int64_t>(std::strlen(c_str())) > max) throw Exception("Unexpected value: string too long");
  return *this;
}

// ---- JsonObject ----

JsonObject::~JsonObject() {
  // Only the parser's objects have their members placed, and only those
  // carry the arena header.
  if (membersPlaced()) {
    // Either way the storage is the arena's: the vector is ended without
    // giving it back.
    if (takeWholeArena()) {
      // The members go with the arena, undestroyed.
      ::new (&members_) Members();
      return;
    }
    for (Member& m : members_) (void)m.name.release();
    const bool batch = beginReleaseBatch();
    std::destroy(members_.begin(), members_.end());
    ::new (&members_) Members();
    if (batch) endReleaseBatch();
    return;
  }
  const bool batch = beginReleaseBatch();
  Members().swap(members_);
  if (batch) endReleaseBatch();
}

void JsonObject::unplaceMembers() {
  noteChanged();
  Members moved;
  moved.reserve(members_.size() + 1);
  for (const Member& m : members_) moved.push_back(Member{String(m.name.get()), m.value});
  // The values are held by the copies now; the names stay in the arena.
  for (Member& m : members_) (void)m.name.release();
  std::destroy(members_.begin(), members_.end());
  ::new (&members_) Members(std::move(moved));
}

void JsonObject::write(rdr::OutStream& out, int indent) const {
  checkNamesWrittenApart(members_);
  out.writeU8('{');
  bool first = true;
  for (const Member& m : members_) {
    if (!first) out.writeU8(',');
    first = false;
    out.writeU8('\n');
    writeBlanks(out, indent + 2);
    writeString(out, m.name.get());
    out.writeU8(':');
    m.value->write(out, indent + 2);
  }
  if (!members_.empty()) {
    out.writeU8('\n');
    writeBlanks(out, indent);
  }
  out.writeU8('}');
}

const JsonObject::Member* JsonObject::lookup(const char* name) const noexcept {
  for (const Member& m : members_) {
    if (strCompare(m.name.get(), name) == 0) return &m;
  }
  return nullptr;
}

JsonRef JsonObject::get(const char* name) const {
  const Member* m = lookup(name);
  if (!m) throw JsonException("JSON object property '%s' not found", printableName(name));
  return m->value;
}

JsonRef JsonObject::find(const char* name) const {
  const Member* m = lookup(name);
  return m ? m->value : JsonRef();
}

JsonArray* JsonObject::findArray(const char* name) const {
  const Member* m = lookup(name);
  return m ? dynamic_cast<JsonArray*>(m->value.get()) : nullptr;
}

JsonArrayRef JsonObject::getArray(const char* name) const { return get(name).asArray(); }

void JsonObject::set(const char* name, const JsonRef& value) {
  PLAT_ASSERT(value);
  if (membersPlaced()) noteChanged();
  // lookup() answers a const member; the object owns it, so it may change.
  if (Member* m = const_cast<Member*>(lookup(name))) {
    m->value = value;
    return;
  }
  if (membersPlaced()) unplaceMembers();
  members_.push_back(Member{String(name), value});
}

void JsonObject::setString(const char* name, const char* text) { set(name, JsonRef(new JsonString(text))); }

void JsonObject::remove(const char* name) {
  const Member* m = lookup(name);
  if (!m) return;
  const size_t index = static_cast<size_t>(m - members_.data());
  if (membersPlaced()) {
    noteChanged();
    // The name in the arena is let go of before the members move up over it.
    (void)members_[index].name.release();
  }
  members_.erase(members_.begin() + static_cast<ptrdiff_t>(index));
}

// ---- JsonArray ----

JsonArray::~JsonArray() {
  // Only the parser's arrays have slots, and only those carry the arena
  // header.
  if (slotCount_ && takeWholeArena()) return;
  const bool batch = beginReleaseBatch();
  for (size_t i = 0; i < slotCount_; ++i) {
    if (Arena::slotHoldsValue(slots()[i])) delete reinterpret_cast<JsonValue*>(slots()[i]);
  }
  std::vector<JsonRef, JsonStorage<JsonRef>>().swap(elements_);
  if (batch) endReleaseBatch();
}

void JsonArray::openSlots() const {
  if (!slotCount_) return;
  const uintptr_t* const slots_ = slots();
  // Elements in slots of their own become values first, so that nothing
  // is owned twice should an allocation fail.
  std::vector<std::unique_ptr<JsonValue>> made(slotCount_);
  for (size_t i = 0; i < slotCount_; ++i) {
    const uintptr_t slot = slots_[i];
    if (Arena::slotHoldsValue(slot)) continue;
    if (Arena::slotHoldsInt(slot)) {
      made[i].reset(new JsonNumber(Arena::slotInt(slot)));
    } else if (Arena::slotLiteral(slot) == Arena::kNull) {
      made[i].reset(new JsonNull);
    } else {
      made[i].reset(new JsonBool(Arena::slotLiteral(slot) == Arena::kTrue));
    }
  }
  std::vector<JsonRef, JsonStorage<JsonRef>> elements;
  elements.reserve(slotCount_);
  for (size_t i = 0; i < slotCount_; ++i) {
    const uintptr_t slot = slots_[i];
    elements.emplace_back(Arena::slotHoldsValue(slot) ? reinterpret_cast<JsonValue*>(slot) : made[i].release());
  }
  // Handles to the elements go out from here on.
  const_cast<JsonArray*>(this)->noteChanged();
  elements_ = std::move(elements);
  slotCount_ = 0;
}

void JsonArray::writeSlot(uintptr_t slot, rdr::OutStream& out, int indent) {
  if (Arena::slotHoldsValue(slot)) {
    reinterpret_cast<const JsonValue*>(slot)->write(out, indent);
  } else if (Arena::slotHoldsInt(slot)) {
    JsonNumber(Arena::slotInt(slot)).write(out, indent);
  } else {
    const Arena::Literal l = Arena::slotLiteral(slot);
    writeLiteral(out, l == Arena::kNull ? "null" : l == Arena::kTrue ? "true" : "false");
  }
}

void JsonArray::write(rdr::OutStream& out, int indent) const {
  out.writeU8('[');
  bool first = true;
  for (size_t i = 0; i < slotCount_; ++i) {
    if (!first) out.writeU8(',');
    first = false;
    out.writeU8('\n');
    writeBlanks(out, indent + 2);
    writeSlot(slots()[i], out, indent + 2);
  }
  for (const JsonRef& e : elements_) {
    if (!first) out.writeU8(',');
    first = false;
    out.writeU8('\n');
    writeBlanks(out, indent + 2);
    e->write(out, indent + 2);
  }
  if (!first) {
    out.writeU8('\n');
    writeBlanks(out, indent);
  }
  out.writeU8(']');
}

JsonRef JsonArray::get(int index) const {
  if (index < 0 || index >= count()) throw JsonException("JSON array index %d not found", index);
  openSlots();
  return elements_[static_cast<size_t>(index)];
}

void JsonArray::append(JsonValue* value) {
  PLAT_ASSERT(value);
  openSlots();
  elements_.emplace_back(value);
}

void JsonArray::erase(int index) {
  if (index < 0 || index >= count()) throw JsonException("JSON array index %d not found", index);
  openSlots();
  elements_.erase(elements_.begin() + index);
}

const char* JsonArray::slotText(uintptr_t slot) {
  if (!Arena::slotHoldsValue(slot)) throw JsonException::typeError();
  return reinterpret_cast<JsonValue*>(slot)->asString().get();
}

CharArrayList JsonArray::strings() const {
  CharArrayList texts;
  texts.reserve(static_cast<size_t>(count()));
  for (size_t i = 0; i < slotCount_; ++i) texts.emplace_back(slotText(slots()[i]));
  for (const JsonRef& e : elements_) texts.emplace_back(e->asString().get());
  return texts;
}

StringSet JsonArray::stringSet() const {
  StringSet texts;
  for (size_t i = 0; i < slotCount_; ++i) texts.emplace(slotText(slots()[i]));
  for (const JsonRef& e : elements_) texts.emplace(e->asString().get());
  return texts;
}

void JsonArray::appendStrings(const CharArrayList& texts) {
  openSlots();
  for (const CharArray& t : texts) append(new JsonString(t.get()));
}

void JsonArray::appendStrings(const StringSet& texts) {
  openSlots();
  for (const CharArray& t : texts) append(new JsonString(t.get()));
}

}  // namespace plat
