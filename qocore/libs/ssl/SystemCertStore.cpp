#include "qocore/libs/ssl/SystemCertStore.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "platform/security/SystemRoots.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/ThreadAnnotations.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"

namespace ssl {

namespace {

PLAT_LOG_SOURCE(storeLog, "MacCertificateStore");

struct Walker {
  const unsigned char* p;
  const unsigned char* end;

  [[noreturn]] static void bad() { throw plat::Exception("invalid ASN.1"); }
  // Skips the tag and reads the length; answers the content's start.
  size_t header() {
    if (end - p < 2) bad();
    p++;  // the tag is not checked
    size_t len = *p++;
    if (len == 0x81) {
      if (end - p < 1) bad();
      len = *p++;
    } else if (len == 0x82) {
      if (end - p < 2) bad();
      len = (static_cast<size_t>(p[0]) << 8) | p[1];
      p += 2;
    } else if (len & 0x80) {
      throw plat::Exception("unexpected ASN.1 data");
    }
    if (static_cast<size_t>(end - p) < len) bad();
    return len;
  }
};

}  // namespace

std::vector<unsigned char> normaliseSubject(size_t len, const unsigned char* subject) {
  std::vector<unsigned char> out(subject, subject + len);
  try {
    Walker w{out.data(), out.data() + out.size()};
    size_t seqLen = w.header();
    const unsigned char* seqEnd = w.p + seqLen;
    while (w.p < seqEnd) {
      size_t setLen = w.header();
      const unsigned char* setEnd = w.p + setLen;
      while (w.p < setEnd) {
        size_t atvLen = w.header();
        const unsigned char* atvEnd = w.p + atvLen;
        w.p += w.header();  // the OID
        if (w.p >= w.end) Walker::bad();
        unsigned char tag = *w.p;
        size_t valueLen = w.header();
        if (tag == 19) {
          for (size_t i = 0; i < valueLen; i++) {
            unsigned char& c = const_cast<unsigned char&>(w.p[i]);
            if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
          }
        }
        w.p = atvEnd;
      }
      w.p = setEnd;
    }
  } catch (const plat::Exception&) {
    throw plat::Exception("invalid ASN.1");
  }
  return out;
}

std::unique_ptr<SslCertLookup> MacCertificateStore::create() {
  storeLog().debug("Using system cert store");
  return std::make_unique<SslCertLookupCache>(std::make_unique<MacCertificateStore>());
}

namespace {

constexpr size_t kNone = SIZE_MAX;

// One reading of the bundle, parsed and indexed; never changed once made.
struct ParsedBundle {
  security::BundleVersion version;
  std::shared_ptr<const SslCertSet> roots;
  // Each normalised subject with the position of the first root that has
  // it.
  std::map<std::vector<unsigned char>, size_t, SubjectLess> bySubject;
  // The first root whose subject cannot be normalised (kNone: none).  A
  // search through the roots in order stops there, failing, so the roots
  // after it are not indexed and a subject not found before it fails too.
  size_t firstBadSubject = kNone;
};

constinit plat::Mutex bundleMutex;

struct BundleCache {
  std::shared_ptr<const ParsedBundle> latest PLAT_GUARDED_BY(bundleMutex);
  uint64_t parses PLAT_GUARDED_BY(bundleMutex) = 0;
};

// Made on first use and never destroyed, so a store used during exit
// still finds it.
BundleCache& bundleCache() {
  static auto* cache = new BundleCache;
  return *cache;
}

std::shared_ptr<const ParsedBundle> parseBundle() PLAT_REQUIRES(bundleMutex) {
  auto parsed = std::make_shared<ParsedBundle>();
  plat::CharArray text;
  try {
    text = security::readBundle(&parsed->version);
  } catch (const plat::Exception&) {
    throw os::SecException("SecItemCopyMatching", os::kSecIoError);
  }
  parsed->roots =
      std::make_shared<const MbedTlsCertSet>(SslCertificate::loadPemFile(text.c_str(), std::strlen(text.c_str())));
  const SslCertSet& roots = *parsed->roots;
  for (size_t i = 0; i < roots.size(); i++) {
    try {
      parsed->bySubject.emplace(normaliseSubject(roots[i].rawSubject.len, roots[i].rawSubject.data), i);
    } catch (const plat::Exception&) {
      parsed->firstBadSubject = i;
      break;
    }
  }
  return parsed;
}

// The parsed bundle of the file in use now: the one kept while the file's
// version is unchanged, else a new reading, which replaces it for later
// callers.  Throws os::SecException kSecIoError when the file cannot be
// read.
std::shared_ptr<const ParsedBundle> currentBundle() {
  plat::MutexLock lock(bundleMutex);
  BundleCache& cache = bundleCache();
  security::BundleVersion now;
  try {
    now = security::bundleVersion();
  } catch (const plat::Exception&) {
    throw os::SecException("SecItemCopyMatching", os::kSecIoError);
  }
  if (cache.latest && cache.latest->version == now) return cache.latest;
  cache.latest = parseBundle();
  cache.parses++;
  return cache.latest;
}

}  // namespace

plat::LinkedPtr<SslCertificate> MacCertificateStore::findBySubject(size_t len, const unsigned char* subject) {
  try {
    std::vector<unsigned char> wanted = normaliseSubject(len, subject);
    std::shared_ptr<const ParsedBundle> bundle = currentBundle();
    auto it = bundle->bySubject.find(wanted);
    if (it != bundle->bySubject.end()) return bundle->roots->copy(it->second);
    if (bundle->firstBadSubject != kNone) throw plat::Exception("invalid ASN.1");
    throw os::SecException("SecItemCopyMatching", os::kSecItemNotFound);
  } catch (const plat::Exception& e) {
    storeLog().info("Certificate lookup failed: %s", e.str());
  }
  return plat::LinkedPtr<SslCertificate>();
}

std::vector<plat::LinkedPtr<SslCertificate>> MacCertificateStore::list() {
  try {
    std::shared_ptr<const ParsedBundle> bundle = currentBundle();
    std::vector<plat::LinkedPtr<SslCertificate>> out;
    out.reserve(bundle->roots->size());
    for (size_t i = 0; i < bundle->roots->size(); i++) out.push_back(bundle->roots->copy(i));
    return out;
  } catch (const plat::Exception& e) {
    storeLog().info("Certificate lookup failed: %s", e.str());
  }
  return {};
}

std::shared_ptr<const SslCertSet> MacCertificateStore::sharedList() {
  try {
    return currentBundle()->roots;
  } catch (const plat::Exception& e) {
    storeLog().info("Certificate lookup failed: %s", e.str());
  }
  return std::make_shared<const MbedTlsCertSet>(std::vector<plat::LinkedPtr<SslCertificate>>());
}

uint64_t MacCertificateStore::bundleParses() noexcept {
  plat::MutexLock lock(bundleMutex);
  return bundleCache().parses;
}

}  // namespace ssl
