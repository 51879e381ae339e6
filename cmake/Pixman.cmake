# pixman: the reference that the region and pixel tests compare with and
# that the pixel benchmark measures against.  Never linked into the core.
if(NOT TARGET yarl_pixman)
  find_path(PIXMAN_INCLUDE_DIR pixman.h PATH_SUFFIXES pixman-1 REQUIRED)
  find_library(PIXMAN_LIBRARY NAMES pixman-1 REQUIRED)
  add_library(yarl_pixman INTERFACE)
  target_include_directories(yarl_pixman SYSTEM INTERFACE ${PIXMAN_INCLUDE_DIR})
  target_link_libraries(yarl_pixman INTERFACE ${PIXMAN_LIBRARY})
endif()
