# The window activation cases read and write X11 properties themselves, acting as the window manager.
pkg_check_modules(KEYLOFT_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(${KEYLOFT_TEST} PRIVATE PkgConfig::KEYLOFT_XCB)
