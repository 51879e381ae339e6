# libcurl from Debian's libcurl4-openssl-dev: the downloads of proxy
# auto-configuration scripts, which go direct and never through our own
# HTTP client.

find_path(CURL_INCLUDE_DIR curl/curl.h)
find_library(CURL_LIBRARY curl)
if(NOT CURL_INCLUDE_DIR OR NOT CURL_LIBRARY)
  message(FATAL_ERROR "libcurl not found: run scripts/deps.sh (package libcurl4-openssl-dev)")
endif()

target_include_directories(yarl_options SYSTEM INTERFACE ${CURL_INCLUDE_DIR})
target_link_libraries(yarl_deps INTERFACE ${CURL_LIBRARY})
