#include "qocore/base/plat/NameValue.h"

#include <cctype>
#include <cstring>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace plat {

namespace {

PLAT_LOG_SOURCE(nameValueLog, "NameValue");

bool isSpace(char c) noexcept { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Unescapes the line in place, dropping white space at both ends in the
// same pass.  An escaped character is never white space to be dropped, so
// a value may end in an escaped LF.
void unescapeTrimmed(char* s) noexcept {
  const char* in = s;
  while (*in && isSpace(*in)) ++in;
  char* out = s;
  char* keep = s;  // just past the last character that stays
  while (*in) {
    if (in[0] == '\\' && in[1]) {
      switch (in[1]) {
        case 'n':
          *out++ = '\n';
          break;
        case 'r':
          *out++ = '\r';
          break;
        case '\\':
          *out++ = '\\';
          break;
        default:
          *out++ = '\\';
          *out++ = in[1];
          break;
      }
      in += 2;
      keep = out;
    } else {
      char c = *in++;
      *out++ = c;
      if (!isSpace(c)) keep = out;
    }
  }
  *keep = '\0';
}

// The escaped length of text.
size_t escapedLength(const char* text) noexcept {
  size_t n = 0;
  for (const char* p = text; *p; ++p) n += (*p == '\n' || *p == '\r' || *p == '\\') ? 2 : 1;
  return n;
}

void writeEscaped(rdr::OutStream& os, const char* text) {
  const char* run = text;
  for (const char* p = text;; ++p) {
    const char c = *p;
    if (c != '\0' && c != '\n' && c != '\r' && c != '\\') continue;
    if (p > run) os.writeBytes(run, static_cast<int32_t>(p - run));
    if (c == '\0') break;
    const char esc[2] = {'\\', c == '\n' ? 'n' : c == '\r' ? 'r' : '\\'};
    os.writeBytes(esc, 2);
    run = p + 1;
  }
}

// Unescapes the line in buffer and cuts it at the first "=": the buffer
// then holds the name.  The value, or null without "=".
const char* splitLine(DString& buffer) noexcept {
  char* s = buffer.buf();
  if (!s) return nullptr;
  unescapeTrimmed(s);
  char* eq = std::strchr(s, '=');
  if (!eq) return nullptr;
  *eq = '\0';
  return eq + 1;
}

// Reads the lines of one file, passing over (with a log line naming each)
// those that cannot be taken as they stand: a NUL byte would cut the line
// short and give it another meaning ("Quiet\0=0" would read as "Quiet"),
// and text that is not UTF-8 may reach no parameter.
class LineReader {
 public:
  LineReader(rdr::InStream& is, DString& buffer) noexcept : is_(is), buffer_(buffer) {}

  // The next usable line split as readNameValueLine splits it; the end of
  // the stream or message is thrown as the stream throws it.
  const char* next(bool needUtf8) {
    for (;;) {
      bool sawNul = false;
      is_.readLine(buffer_, 0, &sawNul);
      ++lineNumber_;
      if (sawNul) {
        nameValueLog().error("Line %d (%s) holds a NUL byte: ignored", lineNumber_, visibleName().c_str());
      } else if (needUtf8 && !isValidUtf8(buffer_.c_str())) {
        nameValueLog().error("Line %d (%s) is not valid UTF-8: ignored", lineNumber_, visibleName().c_str());
      } else {
        return splitLine(buffer_);
      }
    }
  }

 private:
  // What comes before the first "=" (never the value, which may be a
  // secret), with anything unprintable escaped.
  CharArray visibleName() const {
    const char* text = buffer_.c_str();
    const char* eq = std::strchr(text, '=');
    CharArray name(text, eq ? static_cast<int>(eq - text) : -1);
    return utf8Visible(name.get(), '\\');
  }

  rdr::InStream& is_;
  DString& buffer_;
  int lineNumber_ = 0;
};

}  // namespace

const char* readNameValueLine(rdr::InStream& is, DString& buffer) {
  is.readLine(buffer);
  return splitLine(buffer);
}

void readNameValueConfig(rdr::InStream& is, Configuration& conf, int priority) {
  DString line;
  LineReader reader(is, line);
  try {
    for (;;) {
      const char* value = reader.next(true);
      // Names no parameter has and values a parameter refuses are passed
      // over: a file may serve several programs.
      (void)conf.setParam(line.c_str(), value, priority);
    }
  } catch (const rdr::EndOfStream&) {
  } catch (const rdr::EndOfMsg&) {
  }
}

void readNameValueLines(rdr::InStream& is, const NameValueHandlers& handlers, CaseMap& map) {
  DString line;
  LineReader reader(is, line);
  try {
    for (;;) {
      const char* value = reader.next(false);
      const char* name = line.c_str();
      auto handler = handlers.find(name);
      if (handler != handlers.end()) {
        handler->second(name, value, map);
        continue;
      }
      auto entry = map.findOrInsert(name);
      if (strCompare(entry->second.get(), value) != 0) entry->second = CharArray(value);
    }
  } catch (const rdr::EndOfStream&) {
  } catch (const rdr::EndOfMsg&) {
  }
}

void writeNameValueLine(rdr::OutStream& os, const char* name, const char* value) {
  os.writeBytes(name, strLen(name));
  if (value) {
    os.writeU8('=');
    writeEscaped(os, value);
  }
  os.writeU8('\n');
}

void writeNameValueLines(rdr::OutStream& os, const CaseMap& map) {
  for (const auto& [name, value] : map) writeNameValueLine(os, name.get(), value.get());
}

CharArray escapeValue(const char* text) {
  if (!text) return CharArray();
  CharArray out = CharArray::zeroed(escapedLength(text) + 1);
  char* o = out.get();
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '\n':
        *o++ = '\\';
        *o++ = 'n';
        break;
      case '\r':
        *o++ = '\\';
        *o++ = 'r';
        break;
      case '\\':
        *o++ = '\\';
        *o++ = '\\';
        break;
      default:
        *o++ = *p;
    }
  }
  return out;
}

bool collectChangedParams(const Configuration& conf, const Configuration& reference, CaseMap& map) {
  bool stored = false;
  for (Configuration::ParamIterator it(conf, true); it; it.next()) {
    const ConfigParameter* p = it.param();
    const ConfigParameter* ref = reference.findParam(p->getName());
    if (!ref) continue;
    CharArray mine = p->getValueStr();
    CharArray theirs = ref->getValueStr();
    if (strCompare(mine.get(), theirs.get()) == 0) continue;
    map.findOrInsert(p->getName())->second = std::move(mine);
    stored = true;
  }
  return stored;
}

}  // namespace plat
