#include "qocore/base/os/AppInfo.h"

#include <cstdlib>
#include <cstring>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"

namespace os {

namespace {

// Plain owned pointers rather than objects with destructors: log lines
// written during exit may still read them.
char* app = nullptr;
char* company = nullptr;
char* pathComp = nullptr;
char* group = nullptr;
char* title = nullptr;
char* productVersion = nullptr;
char* buildVersion = nullptr;
const char* titleKey = nullptr;  // a constant, not owned

const char* fromTables(const char* key) { return loc::translate(key); }
TranslateFn translate = fromTables;

// Replaces the string only when the value differs; null clears it.
void replace(char*& slot, const char* value) {
  if (value && slot && strcmp(slot, value) == 0) return;
  if (!value && !slot) return;
  char* copy = value ? plat::strDupMalloc(value) : nullptr;
  free(slot);
  slot = copy;
}

const char* titleChoice(bool emptyIfUnset) {
  if (titleKey) return translate(titleKey);
  if (title) return title;
  return getAppName(emptyIfUnset);
}

}  // namespace

void init(const char* appName, const char* companyName, const char* pathComponent, const char* key,
          const char* plainTitle) {
  setAppName(appName);
  replace(company, companyName);
  replace(pathComp, pathComponent);
  titleKey = key;
  replace(title, plainTitle);
}

void setProductVersion(const char* version) { replace(productVersion, version); }

const char* getProductVersion() noexcept { return productVersion ? productVersion : ""; }

void setBuildVersion(const char* version) { replace(buildVersion, version); }

const char* getBuildVersion() noexcept { return buildVersion ? buildVersion : getProductVersion(); }

void setAppName(const char* name) {
  PLAT_ASSERT(name);
  replace(app, name);
}

const char* getAppName(bool emptyIfUnset) {
  PLAT_ASSERT(emptyIfUnset || app);
  return app ? app : "";
}

const char* getCompany(bool emptyIfUnset) {
  PLAT_ASSERT(emptyIfUnset || company);
  return company ? company : "";
}

const char* getPathComponent(bool emptyIfUnset) {
  PLAT_ASSERT(emptyIfUnset || pathComp);
  return pathComp ? pathComp : "";
}

const char* getAppTitle(bool emptyIfUnset) { return titleChoice(emptyIfUnset); }

const char* getDisplayName(bool emptyIfUnset) {
  static plat::DString* buffer = new plat::DString;
  const char* text = titleChoice(emptyIfUnset);
  plat::DString out;
  // Drop every registered mark (U+00AE, C2 AE).
  for (const char* mark; (mark = strstr(text, "\xc2\xae")); text = mark + 2) {
    out.append(text, static_cast<int>(mark - text));
  }
  out.append(text);
  *buffer = std::move(out);
  return buffer->c_str();
}

const char* getGroup(bool emptyIfUnset) {
  PLAT_ASSERT(emptyIfUnset || group);
  return group ? group : "";
}

void setGroup(const char* g) {
  PLAT_ASSERT(g);
  replace(group, g);
}

void setAppTitle(const char* plainTitle) {
  replace(title, plainTitle);
  titleKey = nullptr;
}

bool isAppNameSet() noexcept { return app != nullptr; }

bool isIdentitySet() noexcept { return app && company && pathComp; }

TranslateFn setTitleTranslator(TranslateFn fn) noexcept {
  TranslateFn old = translate;
  translate = fn ? fn : fromTables;
  return old;
}

}  // namespace os
