# The test reads the window's named controls from the same interface file the application uses, and types
# on the shared test X server: no other test may run beside it.
set_property(TARGET ${KEYLOFT_TEST} PROPERTY AUTOUIC_SEARCH_PATHS "${PROJECT_SOURCE_DIR}/KeyloftTroubleshooting")
set_tests_properties(${KEYLOFT_TEST} PROPERTIES RUN_SERIAL TRUE)
