# libpng (and the zlib it inflates with) from Debian's libpng-dev, found
# directly: only the PNG reader of qocore/base/qoutil uses it.  The program
# takes the static archives (yarl_external in cmake/Yarl.cmake).

find_path(PNG_INCLUDE_DIR png.h PATH_SUFFIXES libpng16)
yarl_external(PNG png16 png)
yarl_external(ZLIB z)
if(NOT PNG_INCLUDE_DIR OR NOT PNG_LIBRARY OR NOT ZLIB_LIBRARY)
  message(FATAL_ERROR "libpng not found: run scripts/deps.sh (package libpng-dev)")
endif()

target_include_directories(yarl_options SYSTEM INTERFACE ${PNG_INCLUDE_DIR})
