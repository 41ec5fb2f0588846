# The mail button schedules the mail client's activation, which talks to the X server through xcb.
pkg_check_modules(KEYLOFT_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(${KEYLOFT_TEST} PRIVATE PkgConfig::KEYLOFT_XCB)
