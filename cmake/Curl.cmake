# libcurl from Debian's libcurl4-openssl-dev: the downloads of proxy
# auto-configuration scripts, which go direct and never through our own
# HTTP client.  Only its headers are used at build time: platform/cfnetwork
# opens the library by its runtime name on first use (PacLibraries.h), so
# that no other start of the program maps it and the 30-odd libraries it
# depends on.

find_path(CURL_INCLUDE_DIR curl/curl.h)
find_library(CURL_LIBRARY curl)
if(NOT CURL_INCLUDE_DIR OR NOT CURL_LIBRARY)
  message(FATAL_ERROR "libcurl not found: run scripts/deps.sh (package libcurl4-openssl-dev)")
endif()
yarl_soname(CURL_SONAME ${CURL_LIBRARY})
message(STATUS "libcurl: ${CURL_SONAME}, opened on first use")

target_include_directories(yarl_options SYSTEM INTERFACE ${CURL_INCLUDE_DIR})
