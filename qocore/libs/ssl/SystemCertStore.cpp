#include "qocore/libs/ssl/SystemCertStore.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/security/SystemRoots.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"

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

std::vector<plat::LinkedPtr<SslCertificate>> readRoots() {
  plat::CharArray text;
  try {
    text = security::readBundle();
  } catch (const plat::Exception&) {
    throw os::SecException("SecItemCopyMatching", os::kSecIoError);
  }
  return SslCertificate::loadPemFile(text.c_str(), std::strlen(text.c_str()));
}

}  // namespace

plat::LinkedPtr<SslCertificate> MacCertificateStore::findBySubject(size_t len, const unsigned char* subject) {
  try {
    std::vector<unsigned char> wanted = normaliseSubject(len, subject);
    for (const plat::LinkedPtr<SslCertificate>& cert : readRoots()) {
      if (normaliseSubject(cert->rawSubject.len, cert->rawSubject.data) == wanted) return cert;
    }
    throw os::SecException("SecItemCopyMatching", os::kSecItemNotFound);
  } catch (const plat::Exception& e) {
    storeLog().info("Certificate lookup failed: %s", e.str());
  }
  return plat::LinkedPtr<SslCertificate>();
}

std::vector<plat::LinkedPtr<SslCertificate>> MacCertificateStore::list() {
  try {
    return readRoots();
  } catch (const plat::Exception& e) {
    storeLog().info("Certificate lookup failed: %s", e.str());
  }
  return {};
}

}  // namespace ssl
