# The activation test reads and writes X11 properties itself, acting as the window manager.
pkg_check_modules(KEYLOFT_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(${KEYLOFT_TEST} PRIVATE PkgConfig::KEYLOFT_XCB)
# Stopgap until Shared/CMakeLists.txt links xcb itself (the mail client activation lives in keyloft_shared);
# without it only test builds link. Remove this line once that is in place.
target_link_libraries(keyloft_shared PRIVATE xcb)
