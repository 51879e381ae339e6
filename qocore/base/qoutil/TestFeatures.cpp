#include "qocore/base/qoutil/TestFeatures.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qocore/base/crypto/Sha.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"

#ifndef YARL_TEST_FEATURES_DIGEST
#error "YARL_TEST_FEATURES_DIGEST (64 hexadecimal digits) is a build setting"
#endif

namespace qoutil {

namespace {

PLAT_LOG_SOURCE(testFeaturesLog, "TestFeaturesEnableKey");

constexpr const char* kKeyFileName = "TestFeaturesEnableKey";
// Large enough for any key the release process makes; a larger file is
// not a key.
constexpr int kMaxKeySize = 1025;
constexpr size_t kDigestSize = 32;

constexpr int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr bool isDigestText(const char* text) {
  for (size_t i = 0; i < 2 * kDigestSize; ++i)
    if (hexValue(text[i]) < 0) return false;
  return text[2 * kDigestSize] == '\0';
}
static_assert(isDigestText(YARL_TEST_FEATURES_DIGEST), "YARL_TEST_FEATURES_DIGEST must be 64 hexadecimal digits");

constexpr std::array<uint8_t, kDigestSize> parseDigest(const char* text) {
  std::array<uint8_t, kDigestSize> out{};
  for (size_t i = 0; i < kDigestSize; ++i)
    out[i] = static_cast<uint8_t>(hexValue(text[2 * i]) * 16 + hexValue(text[2 * i + 1]));
  return out;
}

constexpr std::array<uint8_t, kDigestSize> kBuiltInDigest = parseDigest(YARL_TEST_FEATURES_DIGEST);

// Main thread only (see the header): no lock.
bool checked = false;
bool enabled = false;

bool keyMatches(const char* path) {
  plat::FilePtr file;
  file.open(path, plat::FilePtr::kRead);
  plat::Buffer contents = file.readAll(kMaxKeySize);
  // The key is a secret of the installation: wiped before release.
  plat::ScopeExit wipe([&] { plat::secureZero(contents.data(), static_cast<size_t>(contents.count())); });
  plat::Buffer digest;
  crypto::digestOneShot(256, static_cast<size_t>(contents.count()), contents.data(), digest);
  return digest.count() == static_cast<int>(kDigestSize) &&
         std::memcmp(digest.data(), kBuiltInDigest.data(), kDigestSize) == 0;
}

}  // namespace

bool testFeaturesEnabled() {
  if (checked) return enabled;
  // Marked first, so that a failure is not retried.
  checked = true;
  std::vector<plat::CharArray> dirs = os::getDataDirs();
  if (plat::CharArray store = os::getConfigDir(nullptr)) dirs.push_back(std::move(store));
  std::vector<const char*> search;
  for (const plat::CharArray& dir : dirs) search.push_back(dir.get());
  if (plat::CharArray path = plat::findFileInDirs(kKeyFileName, search)) {
    try {
      enabled = keyMatches(path.get());
    } catch (const plat::Exception& e) {
      testFeaturesLog().debug("Error reading '%s': %s", path.get(), e.str());
    }
  }
  testFeaturesLog().debug("Enabled %d", enabled ? 1 : 0);
  return enabled;
}

}  // namespace qoutil
