# Build helpers shared by every library folder.
#
# yarl_options carries what compiling any of our sources needs (include
# path, warnings, sanitizers).  yarl_core is what an executable links: the
# objects of every library, plus external libraries and link options.  The
# libraries call one another in both directions, so they get no link edges
# among themselves; every executable simply takes all objects.

add_library(yarl_options INTERFACE)
target_include_directories(yarl_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(yarl_options INTERFACE
  -Wall -Wextra
  # Assertion texts name files relative to the repository.
  -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
if(YARL_WERROR)
  target_compile_options(yarl_options INTERFACE -Werror)
endif()
if(YARL_FUZZ)
  # Coverage instrumentation everywhere; the fuzz targets add the driver.
  set(_yarl_fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(yarl_options INTERFACE ${_yarl_fuzz})
  target_link_options(yarl_options INTERFACE -fsanitize=address,undefined)
endif()
if(YARL_SANITIZE)
  set(_yarl_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(yarl_options INTERFACE ${_yarl_san})
  target_link_options(yarl_options INTERFACE ${_yarl_san})
endif()

find_package(Threads REQUIRED)

add_library(yarl_core INTERFACE)
target_link_libraries(yarl_core INTERFACE yarl_options Threads::Threads)
# The stack trace of a failed assertion names our own functions.
target_link_options(yarl_core INTERFACE -rdynamic)

include(${CMAKE_CURRENT_LIST_DIR}/Mbedtls.cmake)

# yarl_add_library(<folder>): one OBJECT library per folder, named after its
# path, whose objects every executable receives through yarl_core.  The
# platform- and dependency-specific subfolders build into it too.
function(yarl_add_library folder)
  string(REPLACE "/" "_" target "${folder}")
  set(dir ${PROJECT_SOURCE_DIR}/${folder})
  file(GLOB sources CONFIGURE_DEPENDS
    ${dir}/*.cpp ${dir}/mac/*.cpp ${dir}/unix/*.cpp ${dir}/native/*.cpp ${dir}/mbedtls/*.cpp)
  add_library(${target} OBJECT ${sources})
  target_link_libraries(${target} PRIVATE yarl_options)
  target_sources(yarl_core INTERFACE $<TARGET_OBJECTS:${target}>)
endfunction()

# yarl_add_tests(<folder>): the folder's tests/ directory becomes one
# GoogleTest executable registered with CTest.
function(yarl_add_tests folder)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  string(REPLACE "/" "_" target "${folder}")
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/tests/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${target}_tests ${sources})
  target_link_libraries(${target}_tests PRIVATE yarl_core GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target}_tests
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "YARL_TEST_DATA=${PROJECT_SOURCE_DIR}/${folder}/tests/data")
endfunction()
