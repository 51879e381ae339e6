# duktape 2.x from Debian's duktape-dev, which ships no CMake file: the
# embedded JavaScript engine that evaluates proxy auto-configuration
# scripts in the resolver child.  Only its header is used at build time:
# platform/cfnetwork opens the library by its runtime name on first use
# (PacLibraries.h), so that no other start of the program maps it.

find_path(DUKTAPE_INCLUDE_DIR duktape.h)
find_library(DUKTAPE_LIBRARY duktape)
if(NOT DUKTAPE_INCLUDE_DIR OR NOT DUKTAPE_LIBRARY)
  message(FATAL_ERROR "duktape not found: run scripts/deps.sh (package duktape-dev)")
endif()
yarl_soname(DUKTAPE_SONAME ${DUKTAPE_LIBRARY})
message(STATUS "duktape: ${DUKTAPE_SONAME}, opened on first use")

target_include_directories(yarl_options SYSTEM INTERFACE ${DUKTAPE_INCLUDE_DIR})
