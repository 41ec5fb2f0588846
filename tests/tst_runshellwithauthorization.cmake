# The privileged shell is tested against the real sudo, as a throw-away administrator that only root
# can create: the wrapper sets it up, runs this test as that user and removes everything again.
# Run directly, the program would answer the password prompts of the wrong user, so only the wrapped
# run is registered as enabled; without root it reports itself skipped.
set_tests_properties(${KEYLOFT_TEST} PROPERTIES DISABLED TRUE)
add_test(NAME ${KEYLOFT_TEST}_as_admin
         COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/run_as_sudo_user.sh" "$<TARGET_FILE:${KEYLOFT_TEST}>"
                 "${CMAKE_CURRENT_BINARY_DIR}/helpers" "${KEYLOFT_BUNDLE_DIR}/Contents/libexec")
# The person at the password prompt: one fake program that types the password, and its twin built to
# press Cancel.
foreach(name IN ITEMS askpass_right askpass_cancel)
  add_executable(${name} helpers/fake_askpass.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/helpers")
endforeach()
target_compile_definitions(askpass_cancel PRIVATE FAKE_ASKPASS_CANCEL)
add_dependencies(${KEYLOFT_TEST} keyloft-askpass askpass_right askpass_cancel)
set_tests_properties(${KEYLOFT_TEST}_as_admin PROPERTIES
                     ENVIRONMENT "${KEYLOFT_TEST_ENVIRONMENT}" TIMEOUT 300 SKIP_RETURN_CODE 77)
