# libpng (and the zlib it inflates with) from Debian's libpng-dev, found
# directly: only the PNG reader of qocore/base/qoutil uses it.

find_path(PNG_INCLUDE_DIR png.h PATH_SUFFIXES libpng16)
find_library(PNG_LIBRARY NAMES png16 png)
find_library(ZLIB_LIBRARY NAMES z)
if(NOT PNG_INCLUDE_DIR OR NOT PNG_LIBRARY OR NOT ZLIB_LIBRARY)
  message(FATAL_ERROR "libpng not found: run scripts/deps.sh (package libpng-dev)")
endif()

target_include_directories(yarl_options SYSTEM INTERFACE ${PNG_INCLUDE_DIR})
target_link_libraries(yarl_deps INTERFACE ${PNG_LIBRARY} ${ZLIB_LIBRARY})
