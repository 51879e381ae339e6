#include <gtest/gtest.h>

#include <cstring>

#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/loc/Localize.h"

namespace {

TEST(OsStringsTest, EveryKeyHasItsEnglishText) {
  struct Case {
    const char* key;
    const char* text;
  };
  const Case cases[] = {
      {"os_blankscreen_err_cannot_load", "Cannot load file"},
      {"os_blankscreen_err_invalid_image", "Invalid image"},
      {"os_blankscreen_err_not_jpeg", "Must be .jpg or .jpeg"},
      {"os_launchprocess_title_fmt", "%1$S - %2$S password required"},
      {"os_launchwithpipe_elevate_cancelled", "Elevation cancelled or not supported."},
      {"os_launchwithpipe_elevate_not_admin", "Account not valid for elevation."},
      {"os_logdestsyslog_facilityparam",
       "Facility for the 'syslog' log destination to use, as an integer or name. Supported names: user, daemon, "
       "auth, authpriv (if available), security (if available), local0..local7"},
      {"os_websocket_connection_type", "Direct WebSocket"},
  };
  loc::LocaleSetter setter("en");
  // A text is looked up as the program uses it: the "_fmt" one as a
  // template, the others as final text (the elevated launch's failure
  // carries the cancel text as its message).
  for (const Case& c : cases) {
    bool raw = std::strstr(c.key, "_fmt") != nullptr;
    EXPECT_STREQ(loc::lookup(c.key, raw), c.text) << c.key;
  }
}

TEST(OsStringsTest, EveryLanguageHasItsOwnText) {
  struct Case {
    const char* locale;
    const char* text;
  };
  const Case cases[] = {
      {"de", "Erhöhung wurde abgebrochen oder wird nicht unterstützt."},
      {"es", "Elevación cancelada o no admitida."},
      {"fr", "Élévation annulée ou non prise en charge."},
      {"pt_BR", "Elevação cancelada ou não suportada."},
  };
  for (const Case& c : cases) {
    loc::LocaleSetter setter(c.locale);
    EXPECT_STREQ(loc::lookup("os_launchwithpipe_elevate_cancelled", false), c.text) << c.locale;
  }
}

}  // namespace
