#include "libs/hosted/BootstrapCache.h"

#include <cstring>

#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/PackageReader.h"
#include "libs/hosted/PackageWriter.h"
#include "libs/hosted/VendorConfig.h"
#include "qocore/base/os/PersistentStore.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace hosted {

namespace {

PLAT_LOG_SOURCE(vlog, "BootstrapCache");

constexpr const char* kBodySection = "BootstrapCache";
constexpr const char* kTimesSection = "ExpiryTime";
constexpr const char* kChecksumSection = "VendorConfigChecksum";
constexpr const char* kUrlSection = "SourceUrl";

bool sameBytes(const plat::Buffer& a, const plat::Buffer& b) {
  return a.count() == b.count() && (a.count() == 0 || std::memcmp(a.data(), b.data(), a.count()) == 0);
}

}  // namespace

BootstrapCache::BootstrapCache(os::PersistentStore* store, const plat::LinkedPtr<VendorConfig>& vendorConfig)
    : store_(store), vendorConfig_(vendorConfig) {
  read();
}

BootstrapCache::~BootstrapCache() = default;

bool BootstrapCache::isUsable() const { return config_.get() && plat::getTime() < expiryTime_; }

bool BootstrapCache::isFresh() const { return plat::getTime() < refreshTime_; }

void BootstrapCache::read() {
  if (!store_) return;
  try {
    plat::Buffer bytes;
    if (!store_->read(kStoreKey, bytes)) return;
    PackageReader package(bytes.count(), bytes.data());
    const plat::Buffer& url = package.getSection(kUrlSection);
    sourceUrl_ = plat::CharArray(reinterpret_cast<const char*>(url.data()), url.count());
    const plat::Buffer& times = package.getSection(kTimesSection);
    rdr::MemInStream in(times.data(), times.count());
    expiryTime_ = in.readS64();
    refreshTime_ = in.readS64();
    const plat::Buffer& body = package.getSection(kBodySection);
    config_.reset(
        new BootstrapConfig(body.count(), body.data(), vendorConfig_->trustManager(), sourceUrl_.get(), true));
    if (expiryTime_ > addTicks(plat::getTime(), config_->maxAge()))
      throw plat::Exception("expiryTime in cache exceeds age of the config");
    if (!sameBytes(package.getSection(kChecksumSection), vendorConfig_->checksum()))
      throw plat::Exception("Checksum of package file does not match that in the cache");
  } catch (const plat::Exception& e) {
    vlog().debug("Unable to read cache: %s", e.str());
    erase();
  }
}

void BootstrapCache::update(const plat::LinkedPtr<BootstrapConfig>& config, const plat::Buffer& body,
                            const char* sourceUrl, plat::TimeValue expiryTime, plat::TimeValue refreshTime) {
  if (!config.get() || !config->isSigned()) {
    vlog().info("Unable to update cache: Bootstrap config is not signed");
    return;
  }
  config_ = config;
  if (!sourceUrl_.get() || !sourceUrl || std::strcmp(sourceUrl_.get(), sourceUrl) != 0)
    sourceUrl_ = plat::CharArray(sourceUrl);
  expiryTime_ = expiryTime;
  refreshTime_ = refreshTime;
  write(body);
}

void BootstrapCache::write(const plat::Buffer& body) {
  if (!store_) return;
  try {
    PackageWriter writer;
    writer.addSection(kBodySection, body);
    rdr::MemOutStream times;
    times.writeS64(expiryTime_);
    times.writeS64(refreshTime_);
    writer.addSection(kTimesSection, times.takeBuffer());
    writer.addSection(kChecksumSection, vendorConfig_->checksum());
    const char* url = sourceUrl_.c_str();
    writer.addSection(kUrlSection, url, static_cast<int32_t>(std::strlen(url)));
    rdr::MemOutStream out;
    writer.write(out);
    store_->write(kStoreKey, out.takeBuffer());
  } catch (const plat::Exception& e) {
    vlog().debug("Unable to write to cache: %s", e.str());
    try {
      store_->remove(kStoreKey);
    } catch (const plat::Exception& removeError) {
      vlog().debug("Unable to erase cache: %s", removeError.str());
    }
  }
}

void BootstrapCache::erase() {
  if (store_) {
    try {
      store_->remove(kStoreKey);
    } catch (const plat::Exception& e) {
      vlog().debug("Unable to erase cache: %s", e.str());
    }
  }
  config_.reset();
  sourceUrl_ = plat::CharArray();
  expiryTime_ = 0;
  refreshTime_ = 0;
}

}  // namespace hosted
