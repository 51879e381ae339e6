#pragma once
// Stands in for the platform's user defaults as the UI reads them: a
// process-wide store of text values by key (the appearance setting
// "AppleInterfaceStyle" among them).  Backed by an in-process map that
// tests fill; nothing is read from or written to disk.

#include "platform/objc/String.h"

namespace appkit {

class UserDefaults {
 public:
  // The shared defaults (standardUserDefaults), made on first use and
  // never destroyed.
  static UserDefaults& standard();

  // stringForKey:: an autoreleased string, or null when the key has no
  // value.
  objc::String* stringForKey(const char* key) const;
  // setObject:forKey: with a text; a null value removes the key.
  void setString(const char* key, const char* value);
  void removeObjectForKey(const char* key) { setString(key, nullptr); }

 private:
  UserDefaults() = default;
};

}  // namespace appkit
