# The test-feature key the build's digest is made from, compiled into the
# test that checks it, so the test reads no data folder and runs the same
# however it is started.  It is the text of a Base64 key: nothing in it
# needs quoting.
set(_yarl_tf_key_file ${CMAKE_CURRENT_LIST_DIR}/data/TestFeaturesEnableKey)
file(READ ${_yarl_tf_key_file} _yarl_tf_key)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_yarl_tf_key_file})
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/TestFeaturesTest.cpp
  APPEND PROPERTY COMPILE_DEFINITIONS "YARL_TEST_FEATURES_KEY=\"${_yarl_tf_key}\"")
