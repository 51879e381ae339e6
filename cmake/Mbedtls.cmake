# mbedtls 2.28 from Debian's libmbedtls-dev, which ships no CMake or
# pkg-config files.  The linker needs the three libraries in this order:
# mbedtls, mbedx509, mbedcrypto.  The program takes the static archives
# (yarl_external in cmake/Yarl.cmake).

find_path(MBEDTLS_INCLUDE_DIR mbedtls/sha256.h)
yarl_external(MBEDTLS mbedtls)
yarl_external(MBEDX509 mbedx509)
yarl_external(MBEDCRYPTO mbedcrypto)
if(NOT MBEDTLS_INCLUDE_DIR OR NOT MBEDCRYPTO_LIBRARY OR NOT MBEDX509_LIBRARY OR NOT MBEDTLS_LIBRARY)
  message(FATAL_ERROR "mbedtls not found: run scripts/deps.sh (package libmbedtls-dev)")
endif()

# Our code relies on the 2.x interface (the *_ret digest calls and public
# context fields); a 3.x header set would compile into something else.
file(STRINGS ${MBEDTLS_INCLUDE_DIR}/mbedtls/version.h _mbedtls_version
  REGEX "^#define MBEDTLS_VERSION_STRING +\"[0-9.]+\"")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" _mbedtls_version "${_mbedtls_version}")
if(NOT _mbedtls_version MATCHES "^2\\.")
  message(FATAL_ERROR "mbedtls 2.x is required, found '${_mbedtls_version}' in ${MBEDTLS_INCLUDE_DIR}")
endif()
message(STATUS "mbedtls ${_mbedtls_version}: ${MBEDCRYPTO_LIBRARY}")

target_include_directories(yarl_options SYSTEM INTERFACE ${MBEDTLS_INCLUDE_DIR})
