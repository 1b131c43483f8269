# What `cmake --install` puts where, and the Debian package made from it.
#
#   <prefix>/lib/<app>/            the program directory, laid out as in the
#                                  build tree: launcher, libraries, webext/,
#                                  package/, version.dat
#   <prefix>/bin/<app>             a link to the launcher
#   <prefix>/share/applications/   the desktop entry
#   <prefix>/share/icons/hicolor/  the icon
#   <prefix>/share/metainfo/       the AppStream description
#
# The installed program directory is not writable by its users; the program
# then keeps its state in per-user places (vesk/core/state_directories.h).
set(VESK_INSTALL_PROGRAM_DIR lib/${VESK_APP_NAME})
set(_vesk_data ${PROJECT_SOURCE_DIR}/data)
set(_vesk_generated ${CMAKE_BINARY_DIR}/install-data)

install(TARGETS pelicard RUNTIME DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
install(TARGETS framework vesk_core_shared vesk_ui LIBRARY DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
install(TARGETS vesk_webext LIBRARY DESTINATION ${VESK_INSTALL_PROGRAM_DIR}/webext)
install(DIRECTORY ${VESK_PROGRAM_DIR}/package DESTINATION ${VESK_INSTALL_PROGRAM_DIR}
        FILES_MATCHING PATTERN "*.qbun")
install(FILES ${VESK_PROGRAM_DIR}/version.dat DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
# The file-manager extension and the upload command go here when they are
# built, with the page API's declarations:
#   <prefix>/bin/<app>-upload, the extension module in the file manager's
#   extension directory, the per-user action files under share/<app>/.

# A relative link, so it holds under any prefix and DESTDIR.
file(MAKE_DIRECTORY ${_vesk_generated}/bin)
file(CREATE_LINK ../${VESK_INSTALL_PROGRAM_DIR}/${VESK_APP_NAME} ${_vesk_generated}/bin/${VESK_APP_NAME} SYMBOLIC)
install(FILES ${_vesk_generated}/bin/${VESK_APP_NAME} DESTINATION bin)

configure_file(${_vesk_data}/app.desktop.in ${_vesk_generated}/${VESK_APP_ID}.desktop @ONLY)
configure_file(${_vesk_data}/app.metainfo.xml.in ${_vesk_generated}/${VESK_APP_ID}.metainfo.xml @ONLY)
install(FILES ${_vesk_generated}/${VESK_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${_vesk_generated}/${VESK_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${_vesk_data}/icons/pelicard.svg DESTINATION share/icons/hicolor/scalable/apps
        RENAME ${VESK_APP_NAME}.svg)
foreach(_size 48 128 256)
  install(FILES ${_vesk_data}/icons/pelicard-${_size}.png DESTINATION share/icons/hicolor/${_size}x${_size}/apps
          RENAME ${VESK_APP_NAME}.png)
endforeach()

# The Debian package. Library dependencies come from the binaries
# (dpkg-shlibdeps); the sample pages are Chinese, so a CJK font is needed
# for their text to show.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VESK_APP_NAME})
set(CPACK_PACKAGE_VENDOR ${VESK_APP_VENDOR})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${VESK_APP_SUMMARY})
set(CPACK_PACKAGE_DESCRIPTION
    "The mail service's own pages in a frameless window, with a tray icon, start with\nthe session, uploads from the file manager and updates of its page packages.")
set(CPACK_PACKAGE_CONTACT ${VESK_APP_CONTACT})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VESK_APP_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
# Our own maintainer scripts, or CPack would add ldconfig calls for the
# libraries below /usr/lib/<app>, which are not in the linker's path.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_vesk_data}/debian/postinst ${_vesk_data}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
include(CPack)
