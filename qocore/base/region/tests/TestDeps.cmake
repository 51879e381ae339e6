# pixman is the reference the region tests compare with.
include(${PROJECT_SOURCE_DIR}/cmake/Pixman.cmake)
target_link_libraries(${target}_tests PRIVATE yarl_pixman)
