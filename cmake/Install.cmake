# Installation: the bundle under <prefix>/lib, a bin/ link to its executable, the desktop entry,
# AppStream metainfo and the icon in the hicolor theme. Packaging: a Debian package through CPack.

find_package(Qt6 REQUIRED COMPONENTS Svg)

set(KEYLOFT_APP_ID "com.vantle.KeyloftTroubleshooting")
set(keyloft_bundle_dest "lib/${KEYLOFT_BUNDLE_NAME}")
set(keyloft_packaging "${PROJECT_SOURCE_DIR}/packaging")

install(TARGETS keyloft-troubleshooting RUNTIME DESTINATION "${keyloft_bundle_dest}/Contents/bin")
install(FILES "${PROJECT_SOURCE_DIR}/KeyloftTroubleshooting/Scripts/vantletools.rb"
              "${PROJECT_SOURCE_DIR}/KeyloftTroubleshooting/Scripts/redaction.rb"
        DESTINATION "${keyloft_bundle_dest}/Contents/Resources/Scripts")
install(FILES "${KEYLOFT_BUNDLE_DIR}/Contents/Resources/version" DESTINATION "${keyloft_bundle_dest}/Contents/Resources")
if(TARGET keyloft-askpass)
  install(TARGETS keyloft-askpass RUNTIME DESTINATION "${keyloft_bundle_dest}/Contents/libexec")
endif()

# A relative link, so the installed tree can be moved (DESTDIR, packages) and still find its bundle.
set(keyloft_bin_link "${CMAKE_CURRENT_BINARY_DIR}/install-links/keyloft-troubleshooting")
file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/install-links")
file(CREATE_LINK "../${keyloft_bundle_dest}/Contents/bin/keyloft-troubleshooting" "${keyloft_bin_link}" SYMBOLIC)
install(FILES "${keyloft_bin_link}" DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(FILES "${keyloft_packaging}/${KEYLOFT_APP_ID}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
configure_file("${keyloft_packaging}/${KEYLOFT_APP_ID}.metainfo.xml"
               "${CMAKE_CURRENT_BINARY_DIR}/${KEYLOFT_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${KEYLOFT_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# The PNG sizes are rendered from the SVG at build time, so they never drift from it.
install(FILES "${keyloft_packaging}/${KEYLOFT_APP_ID}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
add_executable(keyloft-render-icon "${keyloft_packaging}/render-icon.cpp")
target_link_libraries(keyloft-render-icon PRIVATE Qt6::Gui Qt6::Svg)
target_compile_options(keyloft-render-icon PRIVATE -Wall -Wextra $<$<BOOL:${KEYLOFT_WERROR}>:-Werror>)
set(keyloft_icon_sizes 16 22 24 32 48 64 128 256 512)
set(keyloft_icon_dir "${CMAKE_CURRENT_BINARY_DIR}/icons")
set(keyloft_icon_pngs)
foreach(size IN LISTS keyloft_icon_sizes)
  list(APPEND keyloft_icon_pngs "${keyloft_icon_dir}/${size}x${size}.png")
  install(FILES "${keyloft_icon_dir}/${size}x${size}.png" RENAME "${KEYLOFT_APP_ID}.png"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
add_custom_command(OUTPUT ${keyloft_icon_pngs}
                   COMMAND ${CMAKE_COMMAND} -E make_directory "${keyloft_icon_dir}"
                   COMMAND keyloft-render-icon "${keyloft_packaging}/${KEYLOFT_APP_ID}.svg" "${keyloft_icon_dir}"
                           ${keyloft_icon_sizes}
                   DEPENDS keyloft-render-icon "${keyloft_packaging}/${KEYLOFT_APP_ID}.svg"
                   COMMENT "Rendering the application icon")
add_custom_target(keyloft_icons ALL DEPENDS ${keyloft_icon_pngs})

# Debian package: `cpack -G DEB` in a build tree. Library dependencies come from dpkg-shlibdeps;
# the programs the tool runs are named here.
set(CPACK_PACKAGE_NAME "keyloft-troubleshooting")
set(CPACK_PACKAGE_VENDOR "Vantle")
set(CPACK_PACKAGE_CONTACT "Keyloft Support <support@keyloft.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Diagnostics report and repairs for the Keyloft password manager")
set(CPACK_PACKAGE_DESCRIPTION "Creates a diagnostics report for Keyloft support, mails it, and repairs common damage.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ruby, sudo, xdg-utils, qt6-qpa-plugins, libqt6svg6")
set(CPACK_STRIP_FILES ON)
include(CPack)
