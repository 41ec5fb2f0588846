# The mail client activation it schedules talks to the X server through xcb.
pkg_check_modules(KEYLOFT_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(${KEYLOFT_TEST} PRIVATE PkgConfig::KEYLOFT_XCB)
