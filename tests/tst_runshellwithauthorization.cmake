# Only run as the throw-away administrator the wrapper creates (as root, else skipped): run directly,
# the test would answer the password prompts of the wrong user.
set_tests_properties(${KEYLOFT_TEST} PROPERTIES DISABLED TRUE)
add_test(NAME ${KEYLOFT_TEST}_as_admin
         COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/run_as_sudo_user.sh" "$<TARGET_FILE:${KEYLOFT_TEST}>"
                 "${CMAKE_CURRENT_BINARY_DIR}/helpers" "${KEYLOFT_BUNDLE_DIR}/Contents/libexec")
# The person at the password prompt: a fake that types the password, and its twin that presses Cancel.
foreach(name IN ITEMS askpass_right askpass_cancel)
  add_executable(${name} helpers/fake_askpass.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/helpers")
endforeach()
target_compile_definitions(askpass_cancel PRIVATE FAKE_ASKPASS_CANCEL)
add_dependencies(${KEYLOFT_TEST} keyloft-askpass askpass_right askpass_cancel)
set_tests_properties(${KEYLOFT_TEST}_as_admin PROPERTIES
                     ENVIRONMENT "${KEYLOFT_TEST_ENVIRONMENT}" TIMEOUT 300 SKIP_RETURN_CODE 77)
