# The admin helper's tests run the fake installed server.
target_compile_definitions(${target}_tests PRIVATE YARL_FAKE_INSTALLED_SERVER="$<TARGET_FILE:fake_installed_server>")
add_dependencies(${target}_tests fake_installed_server)
