# References the rfb tests compare with: xkbcommon for the key symbols,
# pixman for compositing.  Nothing else links them.
find_path(XKBCOMMON_INCLUDE_DIR xkbcommon/xkbcommon.h REQUIRED)
find_library(XKBCOMMON_LIBRARY xkbcommon REQUIRED)
target_include_directories(${target}_tests SYSTEM PRIVATE ${XKBCOMMON_INCLUDE_DIR})
target_link_libraries(${target}_tests PRIVATE ${XKBCOMMON_LIBRARY})
include(${PROJECT_SOURCE_DIR}/cmake/Pixman.cmake)
target_link_libraries(${target}_tests PRIVATE yarl_pixman)
