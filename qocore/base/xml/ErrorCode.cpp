#include "qocore/base/xml/ErrorCode.h"

namespace xml {

namespace {

constexpr const char* kTexts[] = {
    "No error",
    "Warning: Unmatched end tag",
    "Warning: No XML tag found",
    "Error: No XML data",
    "Error: Missing start tag name",
    "Error: Missing end tag name",
    "Error: Unmatched end tag",
    "Error: Unmatched clear tag end",
    "Error: Unexpected token found",
    "Error: No elements found",
    "Error: File not found",
    "Error: First Tag not found",
    "Error: Unknown character entity",
    "Error: Character code above 255 is forbidden in MultiByte char mode.",
    "Error: unable to convert between WideChar and MultiByte chars",
    "Error: unable to open file for writing",
    "Error: cannot write into file",
    "Warning: Base64-string length is not a multiple of 4",
    "Error: Base64-string contains an illegal character",
    "Warning: Base64-string is truncated",
    "Error: Base64 decode output buffer is too small",
};

}  // namespace

const char* errorText(int code) noexcept {
  if (code < 0 || code >= static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]))) return "Unknown";
  return kTexts[code];
}

}  // namespace xml
