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
file(MAKE_DIRECTORY ${_vesk_generated}/bin)

install(TARGETS pelicard RUNTIME DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
install(TARGETS framework vesk_core_shared vesk_ui LIBRARY DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
install(TARGETS vesk_webext LIBRARY DESTINATION ${VESK_INSTALL_PROGRAM_DIR}/webext)
install(TARGETS vesk_proxy_resolver LIBRARY DESTINATION ${VESK_INSTALL_PROGRAM_DIR}/gio)
install(DIRECTORY ${VESK_PROGRAM_DIR}/package DESTINATION ${VESK_INSTALL_PROGRAM_DIR}
        FILES_MATCHING PATTERN "*.qbun")
install(FILES ${VESK_PROGRAM_DIR}/version.dat DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
# The page API's declarations go here once they exist.

# The file manager's upload entry: its module, command, registration command
# and icon in the program directory, the command in <prefix>/bin, and what
# per-machine registration would write (the module in Nautilus's extension
# directory with the record naming the program directory, the icon in the
# theme), placed relative to the prefix so that a /usr package puts them
# where Nautilus looks. Per-user entries are each user's own registration
# (`pelicard_shell_ext_register --install --user`).
if(TARGET pelicard_shell_ext)
  install(TARGETS pelicard_shell_ext LIBRARY DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
  install(TARGETS pelicard-upload pelicard_shell_ext_register RUNTIME DESTINATION ${VESK_INSTALL_PROGRAM_DIR})
  install(FILES ${VESK_PROGRAM_DIR}/icons/pelicard-upload.svg DESTINATION ${VESK_INSTALL_PROGRAM_DIR}/icons)
  install(FILES ${VESK_PROGRAM_DIR}/icons/pelicard-upload.svg DESTINATION share/icons/hicolor/scalable/apps)
  file(CREATE_LINK ../${VESK_INSTALL_PROGRAM_DIR}/pelicard-upload ${_vesk_generated}/bin/pelicard-upload SYMBOLIC)
  install(FILES ${_vesk_generated}/bin/pelicard-upload DESTINATION bin)
  file(RELATIVE_PATH _vesk_nautilus_dir ${VESK_NAUTILUS_PREFIX} ${VESK_NAUTILUS_EXTENSION_DIR})
  file(RELATIVE_PATH _vesk_module_link /${_vesk_nautilus_dir} /${VESK_INSTALL_PROGRAM_DIR}/pelicard_shell_ext.so)
  file(MAKE_DIRECTORY ${_vesk_generated}/nautilus)
  file(CREATE_LINK ${_vesk_module_link} ${_vesk_generated}/nautilus/pelicard_shell_ext.so SYMBOLIC)
  install(FILES ${_vesk_generated}/nautilus/pelicard_shell_ext.so DESTINATION ${_vesk_nautilus_dir})
  # The record names the installed program directory, which only the
  # install step knows (CPack installs with its own prefix).
  install(CODE "
    set(_dir \"\${CMAKE_INSTALL_PREFIX}/${VESK_INSTALL_PROGRAM_DIR}\")
    file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_vesk_nautilus_dir}/pelicard_shell_ext.ini\"
         \"# Where the upload entry finds ${VESK_APP_NAME}; written by the install rules.\\n[Program]\\nDirectory=\${_dir}\\n\")
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_vesk_nautilus_dir}/pelicard_shell_ext.ini\")")
endif()

# A relative link, so it holds under any prefix and DESTDIR.
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
