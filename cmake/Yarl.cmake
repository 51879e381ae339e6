# Build helpers shared by every library folder.
#
# yarl_options carries what compiling any of our sources needs (include
# path, warnings, sanitizers); yarl_deps what linking them needs (external
# libraries).  Each folder is an OBJECT library: its sources register log
# sources and parameters from static initialisers, which a static archive
# would silently drop.  The folders call one another in both directions, so
# the OBJECT libraries get no link edges among themselves; their objects are
# gathered instead, compiled once, into
#   yarl_core         a shared library that every test, benchmark and fuzz
#                     executable links, so that a change to one source
#                     relinks one library, not every executable;
#   yarl_core_static  the same objects as a static archive (not built by
#                     default) for the program, which links it whole
#                     through yarl_program_core so that every static
#                     registration stays and one executable carries all.

add_library(yarl_options INTERFACE)
target_include_directories(yarl_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(yarl_options INTERFACE
  -Wall -Wextra
  # Assertion texts name files relative to the repository.
  -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
if(YARL_WERROR)
  target_compile_options(yarl_options INTERFACE -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # Checks the PLAT_GUARDED_BY / PLAT_REQUIRES annotations (g++ has no such
  # analysis, so the clang fuzz tree is where they are checked).
  target_compile_options(yarl_options INTERFACE -Wthread-safety)
endif()
if(YARL_FUZZ)
  # Coverage instrumentation everywhere; the fuzz targets add the driver.
  set(_yarl_fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(yarl_options INTERFACE ${_yarl_fuzz})
  target_link_options(yarl_options INTERFACE -fsanitize=address,undefined)
endif()
if(YARL_SANITIZE)
  set(_yarl_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # -O1 and line tables only (-g1): reports still name every frame's
  # function, file and line, and the flavour CI builds compiles in half the
  # CPU time of -O2 -g (a test source: 18 CPU-seconds instead of 37).  Test
  # code (a target whose YARL_TEST_CODE property is set: the test
  # executables and the fixture tools of testing/) compiles at -Og instead,
  # in 40% less CPU time than -O1 and with the same line tables; the
  # libraries they test stay at -O1.
  target_compile_options(yarl_options INTERFACE ${_yarl_san}
    $<IF:$<BOOL:$<TARGET_PROPERTY:YARL_TEST_CODE>>,-Og,-O1> -g1)
  target_link_options(yarl_options INTERFACE ${_yarl_san})
endif()

find_package(Threads REQUIRED)

# yarl_deps is what yarl_core links; yarl_program_deps what the program
# links, the same but for the external libraries Debian also ships as
# static archives, which it takes from those (yarl_external below): each
# shared library the program names costs every start of it the loader's
# mapping and relocating it.
add_library(yarl_deps INTERFACE)
add_library(yarl_program_deps INTERFACE)
foreach(deps yarl_deps yarl_program_deps)
  target_link_libraries(${deps} INTERFACE yarl_options Threads::Threads)
  # The stack trace of a failed assertion names the executable's own
  # functions too, not only the core's.
  target_link_options(${deps} INTERFACE -rdynamic)
  # dlopen, for the libraries opened on first use (cmake/Duktape.cmake).
  target_link_libraries(${deps} INTERFACE ${CMAKE_DL_LIBS})
endforeach()

# yarl_external(<name> <library name>...): finds the external library
# (the first of the names found) into <name>_LIBRARY, the shared library
# that yarl_core links, and its static archive into <name>_ARCHIVE, which
# the program links in its place (the shared library where there is no
# archive).  Call in link order: a library before those it calls.
function(yarl_external name)
  find_library(${name}_LIBRARY NAMES ${ARGN})
  list(TRANSFORM ARGN REPLACE "(.+)" "lib\\1.a" OUTPUT_VARIABLE archives)
  find_library(${name}_ARCHIVE NAMES ${archives})
  if(${name}_LIBRARY)
    target_link_libraries(yarl_deps INTERFACE ${${name}_LIBRARY})
    if(${name}_ARCHIVE)
      target_link_libraries(yarl_program_deps INTERFACE ${${name}_ARCHIVE})
    else()
      target_link_libraries(yarl_program_deps INTERFACE ${${name}_LIBRARY})
    endif()
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/Soname.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Mbedtls.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Png.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Duktape.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Curl.cmake)

# The sources of yarl_core arrive from yarl_add_library below.  An
# executable is not relinked when only the library changed: it loads the
# new one when it starts (a change to a header it includes recompiles and
# relinks it as usual).
set(CMAKE_LINK_DEPENDS_NO_SHARED ON)
add_library(yarl_core SHARED)
target_link_libraries(yarl_core PUBLIC yarl_deps)

add_library(yarl_core_static STATIC EXCLUDE_FROM_ALL)
target_link_libraries(yarl_core_static PUBLIC yarl_program_deps)

# What the program's executable links:
#   target_link_libraries(<program> PRIVATE yarl_program_core)
add_library(yarl_program_core INTERFACE)
target_link_libraries(yarl_program_core INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,yarl_core_static>")

# yarl_add_library(<folder>): one OBJECT library per folder, named after its
# path, whose objects go into yarl_core and yarl_core_static.  The platform-
# and dependency-specific subfolders build into it too.
function(yarl_add_library folder)
  string(REPLACE "/" "_" target "${folder}")
  set(dir ${PROJECT_SOURCE_DIR}/${folder})
  file(GLOB sources CONFIGURE_DEPENDS
    ${dir}/*.cpp ${dir}/mac/*.cpp ${dir}/unix/*.cpp ${dir}/native/*.cpp ${dir}/mbedtls/*.cpp)
  add_library(${target} OBJECT ${sources})
  # Position-independent for the shared library.  A call within one source
  # file may still be inlined: nothing interposes the core's functions.
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  target_link_libraries(${target} PRIVATE yarl_options)
  target_sources(yarl_core PRIVATE $<TARGET_OBJECTS:${target}>)
  target_sources(yarl_core_static PRIVATE $<TARGET_OBJECTS:${target}>)
endfunction()

# No precompiled header for the tests: with g++ 12 one of gtest and the
# standard headers (100 MB and more) saves under a second of a test
# source's 5 to 9 CPU-seconds, most of which is code generation, and the
# headers it restores lose their system-header status, so libstdc++'s own
# false -Warray-bounds reports break -Werror.

# yarl_add_tests(<folder>): the folder's tests/ directory becomes one
# GoogleTest executable registered with CTest, one CTest test per suite
# (named <executable>:<suite>) that runs the suite's cases in one process.  Starting a
# test process under the sanitizers costs about 0.1 CPU-second (the loader
# relocating the instrumented code, the leak check at exit), more than most
# cases' own work: per suite, the unit tests take 60% less CPU time than
# with a process per case.  A failing case is named in the test's output;
# a case that skips leaves its suite passed.  YARL_TEST_PER_CASE registers
# one test per case instead (gtest_discover_tests).
option(YARL_TEST_PER_CASE "One CTest test per GoogleTest case instead of per suite" OFF)
function(yarl_add_tests folder)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  string(REPLACE "/" "_" target "${folder}")
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/tests/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${target}_tests ${sources})
  set_target_properties(${target}_tests PROPERTIES YARL_TEST_CODE ON)
  target_link_libraries(${target}_tests PRIVATE yarl_core GTest::gtest GTest::gmock)
  # Tests whose executable must act as the program does before GoogleTest
  # starts (a child started as another user comes back through the
  # program's own main) bring their own main in tests/TestMain.cpp.
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${folder}/tests/TestMain.cpp)
    target_link_libraries(${target}_tests PRIVATE GTest::gtest_main)
  endif()
  # A folder whose tests need more (a reference library to compare with)
  # says so in tests/TestDeps.cmake, which sees ${target}_tests.
  include(${PROJECT_SOURCE_DIR}/${folder}/tests/TestDeps.cmake OPTIONAL)
  set(dir ${PROJECT_SOURCE_DIR}/${folder}/tests)
  if(YARL_TEST_PER_CASE)
    gtest_discover_tests(${target}_tests
      WORKING_DIRECTORY ${dir}
      DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "YARL_TEST_DATA=${dir}/data")
    return()
  endif()
  # One CTest test per suite, written when the executable is linked
  # (cmake/YarlTestSuites.cmake); CTest reads it through the include file.
  set(suites ${CMAKE_CURRENT_BINARY_DIR}/${target}_tests_suites.cmake)
  add_custom_command(TARGET ${target}_tests POST_BUILD
    BYPRODUCTS ${suites}
    COMMAND ${CMAKE_COMMAND} -D TEST_EXECUTABLE=$<TARGET_FILE:${target}_tests> -D TEST_WORKING_DIR=${dir}
            -D TEST_ENVIRONMENT=YARL_TEST_DATA=${dir}/data -D CTEST_FILE=${suites} -D DISCOVERY_TIMEOUT=60
            -P ${PROJECT_SOURCE_DIR}/cmake/YarlTestSuites.cmake
    VERBATIM)
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_tests_include.cmake)
  file(WRITE ${include_file}
    "if(EXISTS \"${suites}\")\n"
    "  include(\"${suites}\")\n"
    "else()\n"
    "  add_test(${target}_tests_NOT_BUILT ${target}_tests_NOT_BUILT)\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
