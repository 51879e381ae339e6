#include "qocore/base/os/OsVersion.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"

namespace os {

namespace {

constexpr const char* kEtcOsRelease = "/etc/os-release";
constexpr const char* kLibOsRelease = "/usr/lib/os-release";

std::atomic<const char*> primaryPath{nullptr};
std::atomic<const char*> fallbackPath{nullptr};
std::atomic<UnameFn> unameFn{nullptr};

int callUname(struct utsname* u) {
  UnameFn fn = unameFn.load();
  return fn ? fn(u) : ::uname(u);
}

// The first os-release file that can be read, whole; empty when none.
std::string readOsRelease() {
  const char* primary = primaryPath.load();
  const char* fallback = fallbackPath.load();
  const char* paths[] = {primary ? primary : kEtcOsRelease, primary ? fallback : kLibOsRelease};
  for (const char* path : paths) {
    if (!path) continue;
    FILE* f = fopen(path, "re");
    if (!f) continue;
    std::string text;
    char buf[1024];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    return text;
  }
  return {};
}

// Parses one shell-style value: unquoted, "double" (with \ escapes of
// "$`\) or 'single' quoted runs.
std::string unquote(const char* p, const char* end) {
  std::string out;
  while (p < end) {
    char c = *p++;
    if (c == '"') {
      while (p < end && *p != '"') {
        if (*p == '\\' && p + 1 < end && strchr("\"$`\\", p[1])) ++p;
        out += *p++;
      }
      if (p < end) ++p;
    } else if (c == '\'') {
      while (p < end && *p != '\'') out += *p++;
      if (p < end) ++p;
    } else if (c == '\\' && p < end) {
      out += *p++;
    } else {
      out += c;
    }
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\t' || out.back() == '\r')) out.pop_back();
  return out;
}

const char* releaseName(int minor) noexcept {
  static constexpr const char* kNames[] = {"Mavericks", "Yosemite", "El Capitan", "Sierra", "High Sierra", "Mojave"};
  return (minor >= 9 && minor <= 14) ? kNames[minor - 9] : nullptr;
}

}  // namespace

plat::CharArray osReleaseValue(const char* text, const char* key) {
  size_t keyLen = strlen(key);
  const char* line = text;
  while (line && *line) {
    const char* eol = strchr(line, '\n');
    const char* end = eol ? eol : line + strlen(line);
    const char* p = line;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (static_cast<size_t>(end - p) > keyLen && strncmp(p, key, keyLen) == 0 && p[keyLen] == '=') {
      std::string value = unquote(p + keyLen + 1, end);
      return plat::CharArray(value.c_str(), static_cast<int>(value.size()));
    }
    line = eol ? eol + 1 : nullptr;
  }
  return {};
}

OsVersion parseVersionId(const char* versionId) noexcept {
  OsVersion v;
  int32_t* parts[] = {&v.major, &v.minor, &v.patch};
  const char* p = versionId ? versionId : "";
  for (int32_t* part : parts) {
    if (*p >= '0' && *p <= '9') {
      char* end;
      long n = strtol(p, &end, 10);
      *part = (n > INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
      p = end;
    }
    // A part that is not a number stays 0; skip to the next dot.
    while (*p && *p != '.') ++p;
    if (*p == '.') ++p;
  }
  return v;
}

OsVersion readOsVersion() {
  std::string text = readOsRelease();
  plat::CharArray id = osReleaseValue(text.c_str(), "VERSION_ID");
  // Linux has no server edition of its own: the flag stays false.
  return parseVersionId(id.get());
}

const OsVersion& osVersionInfo() {
  static const OsVersion version = readOsVersion();
  return version;
}

void osVersionString(plat::CharArray& out) {
  std::string text = readOsRelease();
  plat::CharArray name = osReleaseValue(text.c_str(), "PRETTY_NAME");
  if (!name || !*name.get()) name = osReleaseValue(text.c_str(), "NAME");
  plat::DString desc;
  desc.append(name && *name.get() ? name.get() : "Linux");
  struct utsname u;
  if (callUname(&u) == 0) {
    desc.append(" (");
    desc.append(u.sysname);
    desc.append(" ");
    desc.append(u.release);
    desc.append(")");
  }
  out = desc.c_str();
}

plat::CharArray macOsVersionText(const OsVersion& v) {
  plat::DString text("Mac OS X %sVersion %d.%d.%d", v.server ? "Server " : "", static_cast<int>(v.major),
                     static_cast<int>(v.minor), static_cast<int>(v.patch));
  if (v.major == 10) {
    if (const char* name = releaseName(v.minor)) {
      text.append(" ");
      text.append(name);
    }
  }
  return plat::CharArray(text.c_str());
}

void machineArchitecture(char (&out)[32]) noexcept {
  struct utsname u;
  if (callUname(&u) == 0) {
    plat::safeStrCopy(out, u.machine, sizeof out);
  } else {
    plat::SystemException e("uname", errno);
    plat::safeStrCopy(out, e.str(), sizeof out);
  }
}

void setOsReleasePaths(const char* primary, const char* fallback) noexcept {
  primaryPath.store(primary);
  fallbackPath.store(primary ? fallback : nullptr);
}

UnameFn setUnameFn(UnameFn fn) noexcept { return unameFn.exchange(fn); }

}  // namespace os
