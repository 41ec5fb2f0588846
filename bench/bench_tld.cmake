# The registrable-domain benchmark measures against libpsl's lookup in the same run; libpsl is needed
# by this program alone.
pkg_check_modules(LIBPSL REQUIRED IMPORTED_TARGET libpsl)
target_link_libraries(${KEYLOFT_BENCH} PRIVATE PkgConfig::LIBPSL)
