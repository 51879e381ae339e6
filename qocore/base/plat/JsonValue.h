#pragma once
// JSON values: a tree of typed nodes shared through ring-linked handles,
// and the indented writer.
//
// A node is held through JsonRef.  Containers hold their members and
// elements through handles, and every accessor hands out a new handle in
// the same ring, so a value taken from a tree stays valid after the tree has
// gone.  A view (asNumber, asObject, ...) yields the node as the asked type
// or throws the type error; it never converts.  Numbers are signed 64-bit
// integers.  A tree and its handles belong to one thread at a time.

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"

namespace rdr {
class OutStream;
}

namespace plat {

class JsonNumber;
class JsonBool;
class JsonNull;
class JsonString;
class JsonObject;
class JsonArray;
class JsonRef;
template <typename T>
class JsonTypedRef;
using JsonObjectRef = JsonTypedRef<JsonObject>;
using JsonArrayRef = JsonTypedRef<JsonArray>;

// Parse errors, lookup and range failures carry the type name
// "JsonException"; the type error carries "Json".
class JsonException : public Exception {
 public:
  explicit JsonException(const char* message) noexcept;
  // printf-style (at least one argument after the format).
  template <typename... Args>
  requires(sizeof...(Args) > 0) JsonException(const char* format, Args... args)
  noexcept : JsonException("") { formatMessage(format, args...); }

  // "Unexpected JSON type": a view of a value of another type, or a text
  // that does not convert.
  static JsonException typeError() noexcept;
};

class JsonValue {
 public:
  JsonValue(const JsonValue&) = delete;
  JsonValue& operator=(const JsonValue&) = delete;

  // Each view returns the value itself when it is of that type and throws
  // the type error otherwise.
  virtual JsonNumber& asNumber();
  virtual JsonBool& asBool();
  virtual JsonNull& asNull();
  virtual JsonString& asString();
  virtual JsonObject& asObject();
  virtual JsonArray& asArray();
  // Writes the JSON text; a container's members go on lines of their own,
  // indented by indent + 2 blanks.
  virtual void write(rdr::OutStream& out, int indent) const = 0;
  virtual ~JsonValue();

  // The string read as an ISO-8601 date and time.
  TimeValue asTime();
  // The string decoded from Base64.
  MBuf<unsigned char> asBinary();

  // The value written at indent 0.
  CharArray toText() const;
  // A deep copy, made by writing the value and parsing the text back with
  // integers only.
  JsonRef clone() const;

  // A value made with new comes from the heap; the parser places the values
  // of one document (and its containers' storage) side by side in blocks of
  // their own, which are given up when the last of those values has been
  // deleted: kept for the documents that follow, up to a limit, or freed.
  // Either kind is deleted the same way, through its handle.  The values of
  // one parsed document share those blocks; values taken out of their tree
  // may be deleted on different threads.
  static void* operator new(size_t size);
  static void operator delete(void* p) noexcept;

 protected:
  JsonValue() noexcept = default;

 private:
  friend class JsonParser;
  template <typename T>
  friend class JsonStorage;
  friend class JsonArray;
  // The blocks of one parse (JsonArena.h).  The parse holds one count
  // while it runs and every value or container storage placed there holds
  // one.
  struct Arena;
  [[nodiscard]] static Arena* newArena();
  static void releaseArena(Arena* arena) noexcept;
  static void releaseArena(Arena* arena, size_t count) noexcept;
  // Room for a container's storage: the block set by placeStorageAt on
  // this thread, else on the heap, given back with operator delete.
  [[nodiscard]] static void* storageAlloc(size_t size);
  // The next container storage this thread asks for is the given block,
  // taken as it is.
  static void placeStorageAt(void* block) noexcept;
  // Noted when a handle to `value` is made: a value of an arena other than
  // its root now has a holder outside its tree.
  static void noteHandedOut(const JsonValue* value) noexcept;
  friend class JsonRef;
  // What this thread is doing with arenas (JsonValue.cpp).
  struct ThreadState;
  static thread_local ThreadState threadState_;

 protected:
  // A container destroying its items gathers the counts its values give
  // back to their arena and hands them over at once at the end, unless an
  // outer container on this thread is already gathering: true when this
  // call started the gathering, which endReleaseBatch then ends.
  [[nodiscard]] static bool beginReleaseBatch() noexcept;
  static void endReleaseBatch() noexcept;
  // For a parsed container about to change: its tree no longer holds only
  // what the parser put there.  Only for a value that carries the arena
  // header (one the parser made, or one made with new).
  void noteChanged() noexcept;
  // For the root container of a parse, being destroyed: true when the tree
  // holds all of its values alone, in which case they are not destroyed
  // one by one but go with the arena when the root's block is given back.
  // The same condition as noteChanged.
  [[nodiscard]] bool takeWholeArena() noexcept;
};

// The allocator of a container's members or elements.  While the parser
// builds a container, the vector's storage is placed in the document's
// blocks at its exact size; at any other time it comes from the heap.  Both
// kinds are given back the same way, so every allocator is equal to every
// other and none is passed on between containers.
template <typename T>
class JsonStorage {
 public:
  static_assert(alignof(T) <= alignof(void*), "the arena aligns to pointers only");
  using value_type = T;
  using is_always_equal = std::true_type;

  JsonStorage() noexcept = default;
  template <typename U>
  JsonStorage(const JsonStorage<U>&) noexcept {}

  [[nodiscard]] T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(JsonValue::storageAlloc(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) noexcept { JsonValue::operator delete(p); }

  friend bool operator==(const JsonStorage&, const JsonStorage&) noexcept { return true; }
};

// The shared handle through which values are held and handed out.
class JsonRef : public LinkedPtr<JsonValue> {
 public:
  JsonRef() noexcept = default;
  // Takes over `value`.
  explicit JsonRef(JsonValue* value) noexcept : LinkedPtr(value) {}
  // A copy is a holder of its own: a parsed tree whose values have one
  // outside it is taken apart value by value.
  JsonRef(const JsonRef& other) noexcept : LinkedPtr(other) { noteCopy(); }
  JsonRef(JsonRef&&) noexcept = default;
  JsonRef& operator=(const JsonRef& other) noexcept {
    LinkedPtr::operator=(other);
    noteCopy();
    return *this;
  }
  JsonRef& operator=(JsonRef&&) noexcept = default;
  ~JsonRef() = default;

  // A new handle in the same ring, typed as the view accepted it; the type
  // error when the value is of another type or the handle is empty.
  JsonObjectRef asObject() const;
  JsonArrayRef asArray() const;

 private:
  void noteCopy() const noexcept {
    if (JsonValue* v = get()) JsonValue::noteHandedOut(v);
  }
};

// A handle known to hold a T.  It stays in the ring of the handle it was
// made from.
template <typename T>
class JsonTypedRef : public JsonRef {
 public:
  JsonTypedRef() noexcept = default;

  T* get() const noexcept { return static_cast<T*>(JsonRef::get()); }
  T* operator->() const noexcept { return get(); }
  T& operator*() const noexcept { return *get(); }

 private:
  friend class JsonRef;
  explicit JsonTypedRef(const JsonRef& checked) noexcept : JsonRef(checked) {}
};

class JsonNull : public JsonValue {
 public:
  JsonNull() noexcept = default;
  JsonNull& asNull() override { return *this; }
  void write(rdr::OutStream& out, int indent) const override;
};

class JsonBool : public JsonValue {
 public:
  explicit JsonBool(bool value) noexcept : value_(value) {}
  JsonBool& asBool() override { return *this; }
  void write(rdr::OutStream& out, int indent) const override;

  bool value() const noexcept { return value_; }

 private:
  bool value_;
};

class JsonNumber : public JsonValue {
 public:
  explicit JsonNumber(int64_t value) noexcept : value_(value) {}
  JsonNumber& asNumber() override { return *this; }
  void write(rdr::OutStream& out, int indent) const override;

  int64_t value() const noexcept { return value_; }
  // The value when min <= value <= max; otherwise JsonException
  // "Unexpected value: %lld out of range [%lld,%lld]".
  int64_t getInRange(int64_t min, int64_t max) const;
  // The value clamped to the int32_t range.
  int32_t getInt() const noexcept;

 private:
  int64_t value_;
};

// The text is the String part: NUL-terminated UTF-8, never null when
// parsed.  It is wiped when the value is destroyed, since tokens and keys
// travel in JSON strings.  A parsed string's text lies in its document's
// blocks, next to the value: its bytes may be read and changed in place,
// but never handed over or replaced, which would free it as if it came
// from new[].  So the String part is private and only its readers are
// offered: assigning, resetting, releasing or moving the text out does not
// compile.
class JsonString : public JsonValue, private String {
 public:
  // Copies text (or its first len bytes, stopping at a NUL).
  explicit JsonString(const char* text, int len = -1) : String(text, len) {}
  using String::c_str;
  using String::get;
  using String::isNull;
  using String::operator bool;
  using String::operator[];
  ~JsonString() override;
  JsonString& asString() override { return *this; }
  void write(rdr::OutStream& out, int indent) const override;

  // Itself when the text takes at most max bytes; otherwise a plain
  // Exception "Unexpected value: string too long".
  JsonString& checkLength(int max);

 private:
  friend class JsonParser;
  // Takes over the parsed text.
  explicit JsonString(String&& text) noexcept : String(std::move(text)) {}
};

class JsonObject : public JsonValue {
 public:
  struct Member {
    String name;  // may be null when set so
    JsonRef value;
  };
  using Members = std::vector<Member, JsonStorage<Member>>;

  JsonObject() noexcept = default;
  ~JsonObject() override;
  JsonObject& asObject() override { return *this; }
  void write(rdr::OutStream& out, int indent) const override;

  // In the order they were added.
  const Members& members() const noexcept { return members_; }

  // Names compare byte for byte; a null name matches only a null name.
  //
  // JsonException "JSON object property '%s' not found" when absent.
  JsonRef get(const char* name) const;
  // An empty handle when absent.
  JsonRef find(const char* name) const;
  // The value when it is a JsonArray (or derives from one), else null; the
  // object keeps ownership.
  JsonArray* findArray(const char* name) const;
  // get, then the array view.
  JsonArrayRef getArray(const char* name) const;
  // Replaces the value of the member of that name, or appends a member; the
  // member joins the ring of `value`, which must not be empty.
  void set(const char* name, const JsonRef& value);
  // set with a new JsonString holding a copy of text.
  void setString(const char* name, const char* text);
  // Removes the first member of that name, if any.
  void remove(const char* name);

 private:
  friend class JsonParser;
  const Member* lookup(const char* name) const noexcept;

  // Whether the members are the parser's, in the arena right after the
  // object, names and all: their storage and names are let go of, never
  // freed.  Before they could change in number they move to the heap with
  // copies of their names.
  bool membersPlaced() const noexcept { return members_.data() == reinterpret_cast<const Member*>(this + 1); }
  void unplaceMembers();

  Members members_;
};

class JsonArray : public JsonValue {
 public:
  JsonArray() noexcept = default;
  ~JsonArray() override;
  JsonArray& asArray() override { return *this; }
  void write(rdr::OutStream& out, int indent) const override;

  int count() const noexcept { return static_cast<int>(slotCount_ ? slotCount_ : elements_.size()); }
  // JsonException "JSON array index %d not found" when index is not below
  // count().
  JsonRef get(int index) const;
  // Takes over `value`, which must not be null.
  void append(JsonValue* value);
  // Removes a valid index (the same JsonException otherwise); the elements
  // after it move down.
  void erase(int index);

  // Copies of the elements' texts, in order; the type error at the first
  // element that is not a string.
  CharArrayList strings() const;
  // The same collected in an ordered set (duplicates collapse).
  StringSet stringSet() const;
  // Appends one new JsonString per text, in the container's order.
  void appendStrings(const CharArrayList& texts);
  void appendStrings(const StringSet& texts);

 private:
  friend class JsonParser;

  // The parser's arrays keep their elements as slots, in the arena right
  // after the array, until a handle to one is asked for or the array
  // changes: a slot holds a value alone, or an integer, true, false or null
  // in itself (JsonArena.h tells the kinds apart).  The elements then
  // become handles in elements_, and the slots are gone for good.
  void openSlots() const;
  uintptr_t* slots() const noexcept { return reinterpret_cast<uintptr_t*>(const_cast<JsonArray*>(this) + 1); }
  // Writes an element at the array's indent.
  static void writeSlot(uintptr_t slot, rdr::OutStream& out, int indent);
  // The text of a string element; the type error for any other element.
  static const char* slotText(uintptr_t slot);

  mutable std::vector<JsonRef, JsonStorage<JsonRef>> elements_;
  // Slots there are, none once they have become handles (or in an array
  // made otherwise).
  mutable size_t slotCount_ = 0;
};

}  // namespace plat
