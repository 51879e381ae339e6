#pragma once
// The bootstrap cache: the last signed bootstrap configuration fetched,
// with the source URL and the times until which it may be used (expiry)
// and counts as fresh (refresh).  With a persistent store it is kept in
// the entry "BootstrapCache.pkg", a section package:
//
//   "BootstrapCache"        the document exactly as received
//   "ExpiryTime"            expiry, then refresh: 8 bytes big-endian each
//   "VendorConfigChecksum"  the vendor configuration's digest when written
//   "SourceUrl"             the URL's bytes
//
// Read back, the document's signature is verified again, so an entry
// made for another vendor configuration, or whose expiry reaches beyond
// the configuration's own maximum age, is discarded.  No operation
// throws: failures are logged and leave the cache empty.

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Time.h"

namespace os {
class PersistentStore;
}

namespace hosted {

class BootstrapConfig;
class VendorConfig;

class BootstrapCache {
 public:
  static constexpr const char* kStoreKey = "BootstrapCache.pkg";

  // Starts empty, then reads the store's entry (none without a store).
  // The cache keeps the vendor configuration alive: a holder of the cache
  // may outlive the endpoint that made it.
  BootstrapCache(os::PersistentStore* store, const plat::LinkedPtr<VendorConfig>& vendorConfig);
  ~BootstrapCache();
  BootstrapCache(const BootstrapCache&) = delete;
  BootstrapCache& operator=(const BootstrapCache&) = delete;

  // A configuration is held and the wall clock is before its expiry.
  bool isUsable() const;
  // The wall clock is before the refresh time.
  bool isFresh() const;
  const plat::LinkedPtr<BootstrapConfig>& config() const noexcept { return config_; }
  // Null when none.
  const char* sourceUrl() const noexcept { return sourceUrl_.get(); }
  plat::TimeValue expiryTime() const noexcept { return expiryTime_; }
  plat::TimeValue refreshTime() const noexcept { return refreshTime_; }

  // Keeps a newly fetched signed configuration and writes the entry; an
  // unsigned one changes nothing.
  void update(const plat::LinkedPtr<BootstrapConfig>& config, const plat::Buffer& body, const char* sourceUrl,
              plat::TimeValue expiryTime, plat::TimeValue refreshTime);
  // Forgets everything and removes the entry.
  void erase();

 private:
  void read();
  void write(const plat::Buffer& body);

  plat::TimeValue expiryTime_ = 0;
  plat::TimeValue refreshTime_ = 0;
  plat::LinkedPtr<BootstrapConfig> config_;
  plat::CharArray sourceUrl_;
  os::PersistentStore* store_;
  plat::LinkedPtr<VendorConfig> vendorConfig_;
};

}  // namespace hosted
