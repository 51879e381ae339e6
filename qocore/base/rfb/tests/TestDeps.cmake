# xkbcommon is the reference the key-symbol tests compare with; nothing
# else links it.
find_path(XKBCOMMON_INCLUDE_DIR xkbcommon/xkbcommon.h REQUIRED)
find_library(XKBCOMMON_LIBRARY xkbcommon REQUIRED)
target_include_directories(${target}_tests SYSTEM PRIVATE ${XKBCOMMON_INCLUDE_DIR})
target_link_libraries(${target}_tests PRIVATE ${XKBCOMMON_LIBRARY})
