#include "qocore/base/plat/Env.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"

namespace plat {

namespace {

bool isNameChar(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The value of one name, or null when it is known nowhere.
const char* lookUp(const std::string& name, const EnvOverrides* overrides, bool useEnvironment) {
  if (overrides) {
    auto it = overrides->find(name.c_str());
    if (it != overrides->end()) return it->second.c_str();
  }
  return useEnvironment ? std::getenv(name.c_str()) : nullptr;
}

}  // namespace

void expandEnvVars(DString& out, const char* text, const EnvOverrides* overrides, bool failOnUnknown,
                   bool useEnvironment) {
  DString result;
  const char* p = text;
  while (const char* dollar = std::strchr(p, '$')) {
    result.append(p, static_cast<int>(dollar - p));
    p = dollar + 1;
    std::string name;
    if (*p == '{') {
      const char* close = std::strchr(p + 1, '}');
      const char* end = close ? close : p + std::strlen(p);
      name.assign(p + 1, end);
      p = close ? close + 1 : end;
      if (name.empty()) {
        result.append("$");
        continue;
      }
    } else if (*p == '$') {
      ++p;
      result.append("$");
      continue;
    } else {
      const char* end = p;
      while (isNameChar(*end)) ++end;
      name.assign(p, end);
      p = end;
      if (name.empty()) continue;
    }
    const char* value = lookUp(name, overrides, useEnvironment);
    if (value)
      result.append(value);
    else if (failOnUnknown)
      throw ExceptionFmt("unknown environment variable: %s", name.c_str());
  }
  result.append(p);
  out = std::move(result);
}

}  // namespace plat
