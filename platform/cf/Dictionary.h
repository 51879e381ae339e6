#pragma once
// Stands in for CoreFoundation's property-list values as the system
// settings hand them over: a dictionary from text keys to numbers,
// booleans, texts and arrays of such values.  Backed by plain C++
// containers; values are copied in and read by key.

#include <cstdint>
#include <map>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"

namespace cf {

class Value {
 public:
  enum class Type { kNumber, kBoolean, kString, kArray };

  static Value number(int64_t value);
  static Value boolean(bool value);
  static Value string(const char* value);
  static Value array(std::vector<Value> values);

  Type type() const noexcept { return type_; }
  // Each accessor answers its own type's content, and the type's empty
  // value (0, false, null, no elements) for a value of another type.
  int64_t numberValue() const noexcept { return type_ == Type::kNumber ? number_ : 0; }
  bool booleanValue() const noexcept { return type_ == Type::kBoolean && boolean_; }
  const char* stringValue() const noexcept { return type_ == Type::kString ? string_.get() : nullptr; }
  const std::vector<Value>& arrayValue() const noexcept;

 private:
  Type type_ = Type::kNumber;
  int64_t number_ = 0;
  bool boolean_ = false;
  plat::CharArray string_;
  std::vector<Value> array_;
};

class Dictionary {
 public:
  // Replaces an earlier value of the key.
  void set(const char* key, Value value);
  // Null when the key is absent.
  const Value* get(const char* key) const;
  bool empty() const noexcept { return values_.empty(); }

 private:
  std::map<plat::CharArray, Value, plat::StrLess> values_;
};

}  // namespace cf
