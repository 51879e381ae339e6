# pixman is the reference the region tests compare with; nothing else
# links it.
find_path(PIXMAN_INCLUDE_DIR pixman.h PATH_SUFFIXES pixman-1 REQUIRED)
find_library(PIXMAN_LIBRARY pixman-1 REQUIRED)
target_include_directories(${target}_tests SYSTEM PRIVATE ${PIXMAN_INCLUDE_DIR})
target_link_libraries(${target}_tests PRIVATE ${PIXMAN_LIBRARY})
