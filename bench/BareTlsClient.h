#pragma once
// The configuration both bare mbedtls reference clients use: the server's
// chain checked against the parsed CA list, TLS 1.2 only, the given
// cipher suites (a list ending in 0, which must outlive conf).  Returns
// mbedtls's error, 0 on success.

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

inline int configureBareTlsClient(mbedtls_ssl_config& conf, mbedtls_x509_crt& ca, mbedtls_ctr_drbg_context& drbg,
                                  const int* suites) {
  const int ret = mbedtls_ssl_config_defaults(&conf, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                              MBEDTLS_SSL_PRESET_DEFAULT);
  if (ret != 0) return ret;
  mbedtls_ssl_conf_authmode(&conf, MBEDTLS_SSL_VERIFY_REQUIRED);
  mbedtls_ssl_conf_ca_chain(&conf, &ca, nullptr);
  mbedtls_ssl_conf_rng(&conf, mbedtls_ctr_drbg_random, &drbg);
  mbedtls_ssl_conf_ciphersuites(&conf, suites);
  mbedtls_ssl_conf_min_version(&conf, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
  mbedtls_ssl_conf_max_version(&conf, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
  return 0;
}
