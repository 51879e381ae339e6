#include "platform/cf/Dictionary.h"

#include <utility>

namespace cf {

Value Value::number(int64_t value) {
  Value v;
  v.type_ = Type::kNumber;
  v.number_ = value;
  return v;
}

Value Value::boolean(bool value) {
  Value v;
  v.type_ = Type::kBoolean;
  v.boolean_ = value;
  return v;
}

Value Value::string(const char* value) {
  Value v;
  v.type_ = Type::kString;
  v.string_ = plat::CharArray(value ? value : "");
  return v;
}

Value Value::array(std::vector<Value> values) {
  Value v;
  v.type_ = Type::kArray;
  v.array_ = std::move(values);
  return v;
}

const std::vector<Value>& Value::arrayValue() const noexcept {
  static const std::vector<Value> none;
  return type_ == Type::kArray ? array_ : none;
}

void Dictionary::set(const char* key, Value value) { values_[plat::CharArray(key)] = std::move(value); }

const Value* Dictionary::get(const char* key) const {
  auto found = values_.find(plat::CharArray(key));
  return found == values_.end() ? nullptr : &found->second;
}

}  // namespace cf
