# The test reads the window's named controls from the same interface file the application uses.
set_property(TARGET ${KEYLOFT_TEST} PROPERTY AUTOUIC_SEARCH_PATHS "${PROJECT_SOURCE_DIR}/KeyloftTroubleshooting")
