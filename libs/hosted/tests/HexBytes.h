#pragma once
// Test helper: bytes written as hexadecimal pairs, blanks between them
// ignored ("E0 01 00").

#include <cstdint>
#include <string>
#include <vector>

namespace hosted_test {

inline std::vector<uint8_t> hexBytes(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

}  // namespace hosted_test
