#include "platform/launchsvc/LaunchServices.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/TransactedFile.h"

namespace launchsvc {

namespace {

PLAT_LOG_SOURCE(vlog, "LaunchServices");

// Set by tests and configuration on the main thread before use.
constinit const char* opener = nullptr;

// mimeapps.list is a short file of the user's; anything far larger is not
// one we should rewrite.
constexpr int kMaxListBytes = 1 << 20;

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The unreserved and reserved characters of a URL, "%" apart.
bool isUrlChar(char c) {
  return isAsciiLetter(c) || isDigit(c) || (c != '\0' && std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr);
}

// An XDG base folder: the variable when it holds an absolute path, else
// the fallback below $HOME.
std::string baseFolder(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/" + fallback;
}

// The value escaping of a desktop entry file.
std::string escapeValue(const std::string& value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Writes a whole file through a temporary beside it.
void writeFile(const std::string& path, const std::string& contents) {
  plat::TransactedFile file(path.c_str());
  if (!contents.empty() && std::fwrite(contents.data(), 1, contents.size(), file.get()) != contents.size()) {
    throw plat::SystemException("fwrite", errno);
  }
  file.commit();
}

// The file's text, or "" when it does not exist.
std::string readFileIfAny(const std::string& path) {
  if (!plat::fileExists(path.c_str())) return {};
  plat::FilePtr file;
  file.open(path.c_str(), plat::FilePtr::kRead);
  plat::MBuf<unsigned char> bytes = file.readAll(kMaxListBytes);
  return std::string(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(bytes.count()));
}

// Sets (or, with a null value, removes) `key` under "[Default
// Applications]", keeping every other line as it was.  Returns whether the
// text changed.
bool editDefaults(std::string& text, const std::string& key, const std::string* value) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> out;
  bool inDefaults = false, inFirst = false, sectionSeen = false, written = false, changed = false;
  size_t insertAt = 0;  // after the last line of the first defaults section
  for (const std::string& line : lines) {
    std::string trimmed = trim(line);
    if (!trimmed.empty() && trimmed[0] == '[') {
      inDefaults = trimmed == "[Default Applications]";
      inFirst = inDefaults && !sectionSeen;
      sectionSeen = sectionSeen || inDefaults;
      out.push_back(line);
      if (inFirst) insertAt = out.size();
      continue;
    }
    size_t equals = line.find('=');
    if (inDefaults && equals != std::string::npos && trim(line.substr(0, equals)) == key) {
      // The key's first line takes the new value; a repeated one goes.
      if (value && !written) {
        written = true;
        std::string replacement = key + "=" + *value;
        changed = changed || replacement != line;
        out.push_back(replacement);
        if (inFirst) insertAt = out.size();
      } else {
        changed = true;
      }
      continue;
    }
    out.push_back(line);
    if (inFirst && !trimmed.empty()) insertAt = out.size();
  }
  if (value && !written) {
    changed = true;
    if (!sectionSeen) {
      if (!out.empty() && !trim(out.back()).empty()) out.emplace_back();
      out.emplace_back("[Default Applications]");
      insertAt = out.size();
    }
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(insertAt), key + "=" + *value);
  }
  if (!changed) return false;
  text.clear();
  for (const std::string& line : out) text += line + "\n";
  return true;
}

}  // namespace

bool isAbsoluteUrl(const char* text) noexcept {
  if (text == nullptr || !isAsciiLetter(text[0])) return false;
  const char* p = text + 1;
  while (isAsciiLetter(*p) || isDigit(*p) || *p == '+' || *p == '-' || *p == '.') ++p;
  if (*p != ':') return false;
  for (++p; *p; ++p) {
    if (*p == '%') {
      if (plat::hexNibble(p[1]) < 0 || plat::hexNibble(p[2]) < 0) return false;
      p += 2;
    } else if (!isUrlChar(*p)) {
      return false;
    }
  }
  return true;
}

void setOpener(const char* program) { opener = program; }

int32_t openUrl(const char* url) {
  if (!isAbsoluteUrl(url)) return kParamErr;
  os::LaunchConfig config;
  config.args.emplace_back(opener ? opener : "xdg-open");
  config.args.emplace_back(url);
  config.searchPath = true;
  config.dl = 2;
  try {
    os::LaunchProcess process(config);
    (void)process.launch();
  } catch (const plat::SystemException& e) {
    vlog().error("%s", e.str());
    return e.error() == ENOENT || e.error() == EACCES ? kApplicationNotFoundErr : kUnknownErr;
  } catch (const plat::Exception& e) {
    vlog().error("%s", e.str());
    return kUnknownErr;
  }
  return kNoErr;
}

bool isValidScheme(const char* scheme) noexcept {
  if (scheme == nullptr || *scheme == '\0') return false;
  for (const char* p = scheme; *p; ++p) {
    if (!((*p >= 'a' && *p <= 'z') || *p == '.')) return false;
  }
  return true;
}

plat::CharArray desktopEntryName(const char* appName, const char* scheme) {
  std::string name;
  for (const char* p = appName ? appName : ""; *p; ++p) {
    name += isAsciiLetter(*p) || isDigit(*p) || *p == '-' || *p == '_' ? *p : '_';
  }
  name += std::string("-") + (scheme ? scheme : "") + ".desktop";
  return plat::CharArray(name.c_str());
}

plat::CharArray execCommand(const char* program) {
  static const char kReserved[] = " \t\n\"'\\><~|&;$*?#()`";
  std::string path = program ? program : "";
  bool quote = path.empty() || path.find_first_of(kReserved, 0, sizeof kReserved - 1) != std::string::npos;
  std::string command;
  if (quote) command += '"';
  for (char c : path) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) command += '\\';
    command += c;
    if (c == '%') command += '%';
  }
  if (quote) command += '"';
  command += " -uri %u";
  return plat::CharArray(command.c_str());
}

int32_t setDefaultHandler(const char* scheme, const HandlerApp* app) {
  if (!isValidScheme(scheme)) return kParamErr;
  if (app && (!app->name || !*app->name || !app->program || app->program[0] != '/')) return kParamErr;
  const std::string key = std::string("x-scheme-handler/") + scheme;
  try {
    std::string entryName;
    if (app) {
      entryName = desktopEntryName(app->name, scheme).get();
      std::string folder = baseFolder("XDG_DATA_HOME", ".local/share") + "/applications";
      (void)plat::mkDirs(folder.c_str());
      std::string entry = "[Desktop Entry]\nType=Application\nName=" + escapeValue(app->name) +
                          "\nExec=" + escapeValue(execCommand(app->program).get()) + "\nMimeType=" + key +
                          ";\nNoDisplay=true\nTerminal=false\n";
      writeFile(folder + "/" + entryName, entry);
    }
    std::string configFolder = baseFolder("XDG_CONFIG_HOME", ".config");
    std::string listPath = configFolder + "/mimeapps.list";
    std::string list = readFileIfAny(listPath);
    if (editDefaults(list, key, app ? &entryName : nullptr)) {
      (void)plat::mkDirs(configFolder.c_str());
      writeFile(listPath, list);
    }
    if (app) {
      vlog().debug("Default handler of %s: %s", scheme, entryName.c_str());
    } else {
      vlog().debug("Default handler of %s cleared", scheme);
    }
  } catch (const plat::Exception& e) {
    vlog().error("Setting the handler of %s: %s", scheme, e.str());
    return kUnknownErr;
  }
  return kNoErr;
}

}  // namespace launchsvc
