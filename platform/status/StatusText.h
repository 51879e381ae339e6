#pragma once
// Stands in for the platform's status-code texts: the comment and the
// constant name of a 32-bit status code, and the security services' error
// message.  Backed by a small table of the codes that our own stand-ins
// (elevated launch, URL opening and scheme registration) raise, plus the
// general codes they share; any other code has neither text.

#include <cstdint>

namespace status {

// The code's comment; "" when the table has none.
const char* statusComment(int32_t status) noexcept;
// The code's constant name; "" when the table has none.
const char* statusName(int32_t status) noexcept;
// The security services' message for a code: the comment when there is
// one, else "OSStatus <code>".  Written into `out` (always terminated).
void securityErrorMessage(int32_t status, char (&out)[128]) noexcept;

}  // namespace status
