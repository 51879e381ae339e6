#include "qocore/base/loc/Format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Utf8.h"

namespace loc {

namespace {

// Reads a decimal number of 1 or more; false when there is none.
bool readNumber(const char*& p, long& value) {
  if (*p < '0' || *p > '9') return false;
  value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value < 100000) value = value * 10 + (*p - '0');
    ++p;
  }
  return value >= 1;
}

// Expands one placeholder starting just after its '%'; on success writes
// it, moves p past it and returns true.
bool expandPlaceholder(plat::DString& out, const char*& p, const Arg* args) {
  const char* q = p;
  bool plus = false;
  long precision = -1;
  long position = -1;
  for (;;) {
    if (*q == '+' && !plus) {
      plus = true;
      ++q;
    } else if (*q == '.' && precision < 0) {
      ++q;
      if (!readNumber(q, precision)) return false;
    } else if (*q >= '0' && *q <= '9' && position < 0) {
      if (!readNumber(q, position) || *q != '$') return false;
      ++q;
    } else {
      break;
    }
  }
  char conversion = *q;
  if (conversion != 'S' && conversion != 'D' && conversion != 'X') return false;

  const Arg* arg = nullptr;
  if (position > 0) {
    arg = args;
    for (long i = 1; arg && i < position; ++i) arg = arg->next;
  } else if (args && !args->next) {
    arg = args;
  }
  if (!arg) return false;

  switch (conversion) {
    case 'S':
      if (arg->kind != Arg::kString || plus) return false;
      if (precision >= 0) {
        plat::utf8Sanitise(out, arg->str ? arg->str : "", nullptr, static_cast<int>(precision));
      } else {
        out.append(arg->str ? arg->str : "");
      }
      break;
    case 'D':
      if (precision >= 0) return false;
      if (plus) {
        if (arg->kind != Arg::kSigned) return false;
        out.appendf("%+d", arg->s);
      } else if (arg->kind == Arg::kSigned) {
        out.appendf("%d", arg->s);
      } else if (arg->kind == Arg::kUnsigned) {
        out.appendf("%u", arg->u);
      } else {
        return false;
      }
      break;
    default:  // 'X'
      if (precision >= 0 || plus || arg->kind != Arg::kUnsigned) return false;
      out.appendf("%x", arg->u);
      break;
  }
  p = q + 1;
  return true;
}

}  // namespace

plat::DString& formatArgs(plat::DString& out, const char* templ, const Arg* args) {
  out.reserve(out.length() + 2 * static_cast<int>(std::strlen(templ)) + 1);
  bool good = true;
  const char* p = templ;
  while (*p) {
    const char* pct = std::strchr(p, '%');
    if (!pct) {
      out.append(p);
      break;
    }
    out.append(p, static_cast<int>(pct - p));
    p = pct + 1;
    if (*p == '%') {
      out.append("%");
      ++p;
      continue;
    }
    if (*p && expandPlaceholder(out, p, args)) continue;
    // Scanning resumes just after the '%', so the rest of a bad
    // placeholder shows as plain text.
    out.append("%%");
    good = false;
  }
  if (!good) localizeLog().error("Bad loc string for args - %s", templ);
  return out;
}

plat::CharArray formatNew(const char* templ, const Arg* args) {
  plat::DString out;
  formatArgs(out, templ, args);
  return out.release();
}

}  // namespace loc

namespace plat {

void formatInto256(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  plat::DString text;
  text.vappendf(format, args);
  va_end(args);
  // Cut on a character boundary so the buffer stays valid UTF-8.
  plat::DString cut;
  plat::utf8Sanitise(cut, text.c_str(), nullptr, 255);
  std::memcpy(buffer, cut.c_str(), static_cast<size_t>(cut.length()) + 1);
}

}  // namespace plat
