#include "qocore/base/plat/mac/CFUtil.h"

namespace plat {

CharArray cfDictGetString(const cf::Dictionary& dictionary, const char* key) {
  const cf::Value* value = dictionary.get(key);
  const char* text = value ? value->stringValue() : nullptr;
  return CharArray(text ? text : "");
}

}  // namespace plat
