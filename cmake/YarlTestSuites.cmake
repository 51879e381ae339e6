# Run after a test executable is linked (cmake -P): lists its GoogleTest
# cases and writes CTEST_FILE, which registers one CTest test per suite,
# named <executable>:<suite> (two executables may have suites of one name),
# running the suite's cases in one process.
#   -D TEST_EXECUTABLE=... -D TEST_WORKING_DIR=... -D TEST_ENVIRONMENT=...
#   -D CTEST_FILE=... -D DISCOVERY_TIMEOUT=<seconds>
execute_process(
  COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests
  WORKING_DIRECTORY "${TEST_WORKING_DIR}"
  TIMEOUT ${DISCOVERY_TIMEOUT}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} --gtest_list_tests failed (${result}):\n${listing}")
endif()

# A case line may show a parameter with list or bracket characters in it;
# suite names never have them, so they go before the listing is split.
string(REGEX REPLACE "[][;\\]" "_" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
get_filename_component(executable "${TEST_EXECUTABLE}" NAME)
set(script "")
set(count 0)
foreach(line IN LISTS lines)
  # A suite line starts in the first column and ends in "." (a typed or
  # parameterised suite adds a comment); case lines are indented.
  if(line MATCHES "^([A-Za-z0-9_/]+)\\.( .*)?$")
    set(suite "${CMAKE_MATCH_1}")
    set(name "${executable}:${suite}")
    string(APPEND script
      "add_test([==[${name}]==] [==[${TEST_EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([==[${name}]==] PROPERTIES WORKING_DIRECTORY [==[${TEST_WORKING_DIR}]==]"
      " ENVIRONMENT [==[${TEST_ENVIRONMENT}]==])\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} lists no test suite:\n${listing}")
endif()
file(WRITE "${CTEST_FILE}" "${script}")
