# The activation test reads and writes X11 properties itself, acting as the window manager.
pkg_check_modules(KEYLOFT_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(${KEYLOFT_TEST} PRIVATE PkgConfig::KEYLOFT_XCB)
