#pragma once
// The result codes of the XML parser, the writers and the Base64 helpers.
// Codes 1, 2, 17 and 19 are warnings; every other non-zero code is an
// error.

namespace xml {

enum ErrorCode : int {
  kNoError = 0,
  kUnmatchedEndTagWarning = 1,
  kNoTagFound = 2,
  kNoData = 3,
  kMissingStartTagName = 4,
  kMissingEndTagName = 5,
  kUnmatchedEndTag = 6,
  kUnmatchedClearEnd = 7,
  kUnexpectedToken = 8,
  kNoElements = 9,
  kFileNotFound = 10,
  kFirstTagNotFound = 11,
  kUnknownEntity = 12,
  kCharCodeTooLarge = 13,
  kCharConversion = 14,
  kCannotOpenForWriting = 15,
  kCannotWrite = 16,
  kBase64BadLength = 17,
  kBase64IllegalChar = 18,
  kBase64Truncated = 19,
  kBase64OutputTooSmall = 20,
};

// The code's text; "Unknown" for a code outside 0 to 20.
const char* errorText(int code) noexcept;

}  // namespace xml
