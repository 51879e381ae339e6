# The loader falls back to the built-in "CloudConfig.pkg" that the build
# writes into its resource folder.
target_compile_definitions(${target}_tests PRIVATE YARL_BUILT_IN_RESOURCES="${CMAKE_BINARY_DIR}/Resources")
add_dependencies(${target}_tests cloud_config_pkg)
