# Installation: the bundle under <prefix>/lib, a bin/ link to its executable, the desktop entry,
# AppStream metainfo and the icon in the hicolor theme. Packaging: a Debian package through CPack.

find_package(Qt6 REQUIRED COMPONENTS Svg)

set(KEYLOFT_APP_ID "com.vantle.KeyloftTroubleshooting")
set(CPACK_PACKAGE_NAME "keyloft-troubleshooting")
# The date of this release, for the AppStream metainfo and the manual page.
set(KEYLOFT_RELEASE_DATE "2026-12-06")
set(keyloft_bundle_dest "lib/${KEYLOFT_BUNDLE_NAME}")
set(keyloft_packaging "${PROJECT_SOURCE_DIR}/packaging")

install(TARGETS keyloft-troubleshooting RUNTIME DESTINATION "${keyloft_bundle_dest}/Contents/bin")
# The diagnostics script's files, as KeyloftTroubleshooting/CMakeLists.txt lists them for the bundle.
install(FILES ${KEYLOFT_SCRIPT_FILES} DESTINATION "${keyloft_bundle_dest}/Contents/Resources/Scripts")
install(FILES "${KEYLOFT_BUNDLE_DIR}/Contents/Resources/version" DESTINATION "${keyloft_bundle_dest}/Contents/Resources")
install(TARGETS keyloft-askpass RUNTIME DESTINATION "${keyloft_bundle_dest}/Contents/libexec")

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

# The manual page and the Debian changelog, compressed as Debian wants them (gzip -9, no name or time
# stored, so the same sources give the same bytes), and the copyright file.
set(keyloft_docs_dir "${CMAKE_CURRENT_BINARY_DIR}/docs")
configure_file("${keyloft_packaging}/keyloft-troubleshooting.1.in" "${keyloft_docs_dir}/keyloft-troubleshooting.1" @ONLY)
configure_file("${keyloft_packaging}/changelog.in" "${keyloft_docs_dir}/changelog" @ONLY)
add_custom_command(OUTPUT "${keyloft_docs_dir}/keyloft-troubleshooting.1.gz" "${keyloft_docs_dir}/changelog.gz"
                   COMMAND gzip -9nkf keyloft-troubleshooting.1 changelog
                   WORKING_DIRECTORY "${keyloft_docs_dir}"
                   DEPENDS "${keyloft_docs_dir}/keyloft-troubleshooting.1" "${keyloft_docs_dir}/changelog"
                   COMMENT "Compressing the manual page and the changelog")
add_custom_target(keyloft_docs ALL DEPENDS "${keyloft_docs_dir}/keyloft-troubleshooting.1.gz"
                                           "${keyloft_docs_dir}/changelog.gz")
install(FILES "${keyloft_docs_dir}/keyloft-troubleshooting.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${keyloft_docs_dir}/changelog.gz" "${keyloft_packaging}/copyright"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME}")

# Debian package: `cpack -G DEB` in a build tree. Library dependencies come from dpkg-shlibdeps;
# the programs the tool runs are named here.

set(CPACK_PACKAGE_VENDOR "Vantle")
set(CPACK_PACKAGE_CONTACT "Keyloft Support <support@keyloft.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Diagnostics report and repairs for the Keyloft password manager")
# Debian wants the long description in lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION "Creates a diagnostics report about a Keyloft 4 installation for Keyloft
support, lets the user look inside it, and mails it or hands it over by drag
and drop. The report can also be made from a terminal or over SSH
(keyloft-troubleshooting --report). The tool also repairs common damage to
the Keyloft folders after asking for the user's password.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# qt6-translations-l10n: Qt's own texts (standard buttons, context menus, key names) in the user's language.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ruby, sudo, xdg-utils, qt6-qpa-plugins, libqt6svg6, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
include(CPack)
