# The test moves the shared pointer of the test X server: no other test may run beside it.
set_tests_properties(${KEYLOFT_TEST} PROPERTIES RUN_SERIAL TRUE)
