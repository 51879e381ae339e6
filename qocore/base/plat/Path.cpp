#include "qocore/base/plat/Path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/Strings.h"

namespace plat {

namespace {

// Nesting deeper than this many link resolutions is taken as a loop.
constexpr int kMaxLinkDepth = 33;
// The longest link target read; a target that fills the buffer may have
// been cut, which would resolve to the wrong place.
constexpr int kMaxLinkTarget = 4095;

CharArray toCharArray(std::string_view s) { return CharArray(s.data(), static_cast<int>(s.size())); }

// The component starting at p (after any slashes) ends at the returned
// position.
const char* componentEnd(const char* p) noexcept {
  while (*p && *p != '/') ++p;
  return p;
}

CharArray realPathAt(const char* displayPath, const char* path, int depth) {
  PLAT_ASSERT(path[0] == '/');
  if (depth >= kMaxLinkDepth) throw SystemExceptionFmt("realpath(%s)", ELOOP, displayPath);

  std::string prefix;
  prefix.reserve(std::strlen(path));
  const char* p = path;
  while (*p) {
    // Take the slashes and the next component into the prefix.
    const char* start = skipSlashes(p);
    if (!*start) break;
    const char* end = componentEnd(start);
    prefix.append(p, end);
    p = end;

    struct stat st;
    if (lstat(prefix.c_str(), &st) != 0) throw SystemExceptionFmt("realpath(%s)", errno, displayPath);
    bool more = *skipSlashes(p) != '\0';
    if (S_ISLNK(st.st_mode)) {
      char target[kMaxLinkTarget + 1];
      ssize_t n = readlink(prefix.c_str(), target, sizeof target);
      if (n < 0) throw SystemExceptionFmt("realpath(%s)", errno, displayPath);
      if (n > kMaxLinkTarget) throw SystemExceptionFmt("realpath(%s)", EIO, displayPath);
      std::string next;
      if (n > 0 && target[0] == '/') {
        next.assign(target, n);
      } else {
        // The link's own folder: the prefix without its last component.
        next.assign(prefix, 0, prefix.size() - (end - start));
        next.push_back('/');
        next.append(target, n);
      }
      if (more) {
        next.push_back('/');
        next.append(skipSlashes(p));
      }
      CharArray normalised = normalisePath(next.c_str());
      return realPathAt(displayPath, normalised.get(), depth + 1);
    }
    if (more && !S_ISDIR(st.st_mode)) throw SystemExceptionFmt("realpath(%s)", ENOTDIR, displayPath);
  }
  return CharArray(path);
}

void checkOneSecure(const char* path, const std::set<uid_t>& trusted) {
  struct stat st;
  if (stat(path, &st) != 0) throw SystemExceptionFmt("stat(%s)", errno, path);
  struct stat lst;
  if (lstat(path, &lst) != 0) throw SystemExceptionFmt("lstat(%s)", errno, path);
  if (!trusted.count(st.st_uid) || !trusted.count(lst.st_uid) || (st.st_mode & (S_IWGRP | S_IWOTH)))
    throw ExceptionFmt("%s: permissions are not restrictive enough", path);
}

}  // namespace

bool isAbsolutePath(const char* path) noexcept { return path[0] == '/'; }

bool isNotRootPath(const char* path) noexcept { return std::strcmp(path, "/") != 0; }

const char* skipSlashes(const char* path) noexcept {
  while (*path == '/') ++path;
  return path;
}

CharArray normalisePath(const char* path) {
  bool absolute = isAbsolutePath(path);
  std::vector<std::string_view> parts;
  for (const char* p = skipSlashes(path); *p; p = skipSlashes(p)) {
    const char* end = componentEnd(p);
    std::string_view part(p, end - p);
    p = end;
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..")
        parts.pop_back();
      else if (!absolute)
        parts.push_back(part);
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (std::string_view part : parts) {
    if (absolute || !out.empty()) out.push_back('/');
    out.append(part);
  }
  if (out.empty()) out = absolute ? "/" : ".";
  return toCharArray(out);
}

CharArray dirName(const char* path) {
  CharArray norm = normalisePath(path);
  std::string_view s(norm.get());
  if (s == "/") return norm;
  if (s == ".") return CharArray("..");
  size_t slash = s.rfind('/');
  std::string_view last = slash == std::string_view::npos ? s : s.substr(slash + 1);
  // Only a relative path can end in "..", and then it is ".." throughout.
  if (last == "..") return toCharArray(std::string(s) + "/..");
  if (slash == std::string_view::npos) return CharArray(".");
  if (slash == 0) return CharArray("/");
  return toCharArray(s.substr(0, slash));
}

CharArray baseName(const char* path, const char* suffix) {
  CharArray norm = normalisePath(path);
  std::string_view s(norm.get());
  if (s == "/") return norm;
  size_t slash = s.rfind('/');
  std::string_view name = slash == std::string_view::npos ? s : s.substr(slash + 1);
  if (name == "..") return CharArray(".");
  CharArray out = toCharArray(name);
  if (suffix) {
    int len = strLen(out.get());
    int suffixLen = strLen(suffix);
    if (len > suffixLen && endsWithNoCase(out.get(), suffix)) out[len - suffixLen] = '\0';
  }
  return out;
}

void joinPath(CharArray& out, const char* dir, const char* name, bool keepAbsolute) {
  if (keepAbsolute && isAbsolutePath(name)) {
    out = name;
    return;
  }
  if (endsWith(dir, "/"))
    out = DString::format("%s%s", dir, name);
  else
    out = DString::format("%s%c%s", dir, '/', name);
}

CharArray getCwd() {
  for (size_t size = 1024;; size *= 2) {
    CharArray buf = CharArray::zeroed(size);
    if (getcwd(buf.get(), size)) return buf;
    if (errno != ERANGE) throw SystemException("getcwd", errno);
  }
}

CharArray absolutePath(const char* path) {
  CharArray norm;
  if (isAbsolutePath(path)) {
    norm = normalisePath(path);
  } else {
    CharArray joined;
    joinPath(joined, getCwd().get(), path);
    norm = normalisePath(joined.get());
  }
  return realPath(path, norm.get());
}

CharArray realPath(const char* displayPath, const char* path) { return realPathAt(displayPath, path, 0); }

CharArray findFileInDirs(const char* name, const std::vector<const char*>& dirs) {
  for (const char* dir : dirs) {
    CharArray candidate;
    joinPath(candidate, dir, name);
    if (pathExists(candidate.get())) return candidate;
  }
  return CharArray();
}

CharArray makeSafeName(const char* name, char replacement) {
  CharArray out(name);
  for (char* p = out.get(); p && *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || c == 127 || c == '/') *p = replacement;
  }
  return out;
}

CharArray makeUniqueName(const char* dir, const char* name, const char* open, const char* close, int limit) {
  if (limit < 0) throw Exception("Too many files with same name");
  CharArray stem = makeSafeName(name, '-');
  char* dot = std::strrchr(stem.get(), '.');
  const char* ext = nullptr;
  if (dot) {
    *dot = '\0';
    ext = dot + 1;
  }
  CharArray candidate =
      ext ? DString::format("%s/%s.%s", dir, stem.get(), ext) : DString::format("%s/%s", dir, stem.get());
  if (!fileExists(candidate.get())) return candidate;
  for (int i = 1; i <= limit; ++i) {
    candidate = ext ? DString::format("%s/%s%s%d%s.%s", dir, stem.get(), open, i, close, ext)
                    : DString::format("%s/%s%s%d%s", dir, stem.get(), open, i, close);
    if (!fileExists(candidate.get())) return candidate;
  }
  throw Exception("Too many files with same name");
}

int reservedNamePrefix(const char* name) noexcept {
  static constexpr const char* kReserved[] = {
      "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
      "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
  };
  for (const char* reserved : kReserved) {
    int len = strLen(reserved);
    if (startsWithNoCase(name, reserved) && (name[len] == '.' || name[len] == '\0')) return len;
  }
  return 0;
}

void checkPathSecure(const char* path, const std::set<uid_t>& trustedOwners) {
  PLAT_ASSERT(path[0] == '/');
  checkOneSecure("/", trustedOwners);
  std::string prefix;
  for (const char* p = path + 1; *p; ++p) {
    if (*p == '/') {
      prefix.assign(path, p);
      checkOneSecure(prefix.c_str(), trustedOwners);
    }
  }
  checkOneSecure(path, trustedOwners);
}

void ensureSecurePath(CharArray& out, const char* path, const char* description) {
  PLAT_ASSERT(path[0] == '/');
  if (description && !pathExists(path)) throw ExceptionFmt("%s must be created and point to %s", path, description);
  CharArray resolved = absolutePath(path);
  checkPathSecure(resolved.get(), {0});
  out = std::move(resolved);
}

}  // namespace plat
