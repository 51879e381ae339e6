#pragma once
// The process-wide identity of the running program: its name, maker, path
// word and title, from which paths, channel names, window titles and log
// lines are formed.  Written at start-up before other threads exist and
// only read afterwards; the strings live until the process ends.

namespace os {

// Sets the application name (see setAppName), the company and the path
// component (null clears them), the title key and the plain title.
void init(const char* appName, const char* company, const char* pathComponent, const char* titleKey, const char* title);

// The name must not be null.
void setAppName(const char* name);
// Each getter answers "" for an unset string when emptyIfUnset is true;
// otherwise an unset string is an assertion failure.
const char* getAppName(bool emptyIfUnset = false);
const char* getCompany(bool emptyIfUnset = false);
const char* getPathComponent(bool emptyIfUnset = false);
// The translated title key when one is set, else the plain title, else the
// application name.
const char* getAppTitle(bool emptyIfUnset = false);
// getAppTitle without any registered-mark character; the text stays valid
// until the next call.
const char* getDisplayName(bool emptyIfUnset = false);
const char* getGroup(bool emptyIfUnset = false);
// The group must not be null.
void setGroup(const char* group);
// Sets the plain title (null clears it) and forgets the title key.
void setAppTitle(const char* title);
bool isAppNameSet() noexcept;

// The product version text ("" until set): product initialisation sets it,
// the HTTP User-Agent and the request log read it.  Null clears it.
void setProductVersion(const char* version);
const char* getProductVersion() noexcept;
// The build version text ("2.4.0.2" beside "2.4.0 (r2)"): the product
// version while unset.  Null clears it.
void setBuildVersion(const char* version);
const char* getBuildVersion() noexcept;
bool isIdentitySet() noexcept;

// The title key's lookup: the translation tables by default; tests install
// their own.  Returns the previous function; null restores the default.
using TranslateFn = const char* (*)(const char* key);
TranslateFn setTitleTranslator(TranslateFn fn) noexcept;

}  // namespace os
