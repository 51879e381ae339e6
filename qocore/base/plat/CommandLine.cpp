#include "qocore/base/plat/CommandLine.h"

#include <cstring>
#include <string>

#include "qocore/base/plat/DString.h"

namespace plat {

void splitCommandLine(CharArrayList& list, const char* text) {
  const char* p = text;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return;
    std::string arg;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
      if (*p == '\\') {
        size_t n = 0;
        while (p[n] == '\\') ++n;
        if (p[n] != '"') {
          arg.append(n, '\\');
          p += n - 1;
          continue;
        }
        arg.append(n / 2, '\\');
        p += n;  // on the quote
        if (n % 2) {
          arg.push_back('"');
          continue;
        }
      }
      if (*p == '"')
        quoted = !quoted;
      else
        arg.push_back(*p);
    }
    list.emplace_back(arg.c_str());
  }
}

void appendQuotedArg(DString& out, const char* arg) {
  if (!out.empty()) out.append(" ");
  if (*arg && !std::strpbrk(arg, " \t\n\"")) {
    out.append(arg);
    return;
  }
  out.append("\"");
  for (const char* p = arg;;) {
    size_t n = 0;
    while (p[n] == '\\') ++n;
    if (p[n] == '"') {
      for (size_t i = 0; i < 2 * n + 1; ++i) out.append("\\");
      out.append("\"");
      p += n + 1;
    } else if (!p[n]) {
      for (size_t i = 0; i < 2 * n; ++i) out.append("\\");
      break;
    } else {
      out.append(p, static_cast<int>(n + 1));
      p += n + 1;
    }
  }
  out.append("\"");
}

}  // namespace plat
