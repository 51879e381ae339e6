# duktape 2.x from Debian's duktape-dev, which ships no CMake file: the
# embedded JavaScript engine that evaluates proxy auto-configuration
# scripts in the resolver child.

find_path(DUKTAPE_INCLUDE_DIR duktape.h)
find_library(DUKTAPE_LIBRARY duktape)
if(NOT DUKTAPE_INCLUDE_DIR OR NOT DUKTAPE_LIBRARY)
  message(FATAL_ERROR "duktape not found: run scripts/deps.sh (package duktape-dev)")
endif()

target_include_directories(yarl_options SYSTEM INTERFACE ${DUKTAPE_INCLUDE_DIR})
target_link_libraries(yarl_deps INTERFACE ${DUKTAPE_LIBRARY})
