#pragma once
// loc::LocaleSetter: for its lifetime, makes the current thread speak one
// locale: the thread's platform locale (character classes, messages) and
// a translation map of its own.  Setters nest; they must be destroyed in
// reverse order.  A setter without a name changes nothing but installs
// the locale it inherits (the enclosing setter's, else the process's), so
// code under it sees a definite platform locale.

#include <locale.h>

#include <memory>

#include "qocore/base/loc/LocaleNames.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"

namespace loc {

class TransMap;

class LocaleSetter {
 public:
  // Null or empty: inherit.  A ':' list of names: the first that the
  // platform supports ("C" when none is) and a map for the list.
  explicit LocaleSetter(const char* name);
  ~LocaleSetter();
  LocaleSetter(const LocaleSetter&) = delete;
  LocaleSetter& operator=(const LocaleSetter&) = delete;

  const char* resolvedName() const noexcept { return resolved_.name.c_str(); }
  int charsetClass() const noexcept { return resolved_.charset; }
  // The name asked for; null for an inheriting setter.
  const char* requestedName() const noexcept { return requested_.get(); }

  // The thread's innermost setter, or null; and the one it encloses.
  static LocaleSetter* current() noexcept;
  LocaleSetter* previous() const noexcept { return previous_; }

 private:
  ResolvedLocale resolved_;
  plat::CharArray requested_;
  LocaleSetter* previous_;
  std::unique_ptr<TransMap> map_;
  locale_t installed_ = static_cast<locale_t>(nullptr);
  locale_t restore_ = static_cast<locale_t>(nullptr);
};

// The requested name of the thread's innermost setter that has one, else
// the process's locale list.
plat::CharArray currentLocales();

// Re-flows text at width columns (continuation lines indented) under the
// inherited locale, so its character classes apply.
void wrapTextInLocale(plat::DString& text, int width, int indent);

}  // namespace loc
