# The test installs and packages this very build tree, so everything installed must be built first.
target_compile_definitions(${KEYLOFT_TEST} PRIVATE
    KEYLOFT_BUILD_DIR="${CMAKE_BINARY_DIR}"
    KEYLOFT_CMAKE_COMMAND="${CMAKE_COMMAND}"
    KEYLOFT_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
    KEYLOFT_VERSION="${PROJECT_VERSION}")
# Targets of the install rules, defined after the tests.
add_dependencies(${KEYLOFT_TEST} keyloft_icons keyloft_docs keyloft-askpass)
set_tests_properties(${KEYLOFT_TEST} PROPERTIES TIMEOUT 600)
