# What a Debian package installs, and how cpack builds it (scripts/package.sh).
include(GNUInstallDirs)

set(DM_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(DM_SHOWN_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})

install(TARGETS invara-desktop-manager invara-qbsim invara-testservice RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${DM_PACKAGING}/invara-desktop-manager.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The system autostart entry; a user turns it off with a masking entry of the same name.
install(FILES ${DM_PACKAGING}/invara-desktop-manager-autostart.desktop
  DESTINATION /etc/xdg/autostart RENAME invara-desktop-manager.desktop)

configure_file(${DM_PACKAGING}/io.invara.DesktopManager.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/packaging/io.invara.DesktopManager.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/io.invara.DesktopManager.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install(FILES ${DM_PACKAGING}/invara-desktop-manager.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${DM_ICON_SIZES})
  install(FILES ${DM_ICON_DIR}/invara-desktop-manager-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME invara-desktop-manager.png)
endforeach()

# Debian wants manual pages compressed with maximum compression and no time stamp.
foreach(page invara-desktop-manager invara-qbsim invara-testservice)
  set(gz ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9 -n -c ${DM_PACKAGING}/man/${page}.1 > ${gz}
    DEPENDS ${DM_PACKAGING}/man/${page}.1 VERBATIM)
  list(APPEND DM_MAN_PAGES ${gz})
endforeach()
add_custom_target(dm_man_pages ALL DEPENDS ${DM_MAN_PAGES})
install(FILES ${DM_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(DM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/invara-desktop-manager)
install(FILES ${DM_PACKAGING}/copyright DESTINATION ${DM_DOC_DIR})
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9 -n -c ${DM_PACKAGING}/changelog > ${changelog}
  DEPENDS ${DM_PACKAGING}/changelog VERBATIM)
add_custom_target(dm_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${DM_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME invara-desktop-manager)
set(CPACK_PACKAGE_VENDOR Invara)
set(CPACK_PACKAGE_VERSION ${DM_SHOWN_VERSION})
set(CPACK_PACKAGE_CONTACT "Invara Support <support@invara.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "link QuickBooks company files to the Invara invoicing service")
set(CPACK_PACKAGE_DESCRIPTION "The agent lives in the notification area and keeps the QuickBooks
company files of one or more businesses in step with the Invara online
invoicing and payment service: customers, new invoices (reviewed before
they are sent) and online payments. It comes with a local service and a
QuickBooks stand-in for demonstrations and tests.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.invara.com/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Links and documents open through xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS xdg-utils)
# The QuickBooks access repair reaches QuickBooks' menus over the accessibility bus.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS at-spi2-core)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${DM_PACKAGING}/conffiles)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
