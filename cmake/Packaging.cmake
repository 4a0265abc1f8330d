# The desktop integration every install gets (menu entry, icons, AppStream metadata) and the
# Debian package built from the same install (`make package`).

# The menu entry names the installed command by its absolute path, known only at install
# time (`cmake --install --prefix` may choose another prefix than the configured one).
install(CODE "
  set(bin \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tessarine\")
  file(READ \"${CMAKE_CURRENT_SOURCE_DIR}/resources/packaging/app.kestrune.Tessarine.desktop.in\" entry)
  string(REPLACE \"@TESSARINE_BIN@\" \"\${bin}\" entry \"\${entry}\")
  file(WRITE \"${CMAKE_CURRENT_BINARY_DIR}/app.kestrune.Tessarine.desktop\" \"\${entry}\")
  file(INSTALL \"${CMAKE_CURRENT_BINARY_DIR}/app.kestrune.Tessarine.desktop\"
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\")")
install(FILES resources/icons/app.kestrune.Tessarine.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES resources/icons/app.kestrune.Tessarine-symbolic.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/symbolic/apps)
configure_file(resources/packaging/app.kestrune.Tessarine.metainfo.xml
  ${CMAKE_CURRENT_BINARY_DIR}/app.kestrune.Tessarine.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/app.kestrune.Tessarine.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessarine)
set(CPACK_PACKAGE_VENDOR Kestrune)
set(CPACK_PACKAGE_CONTACT "Kestrune <tessarine@kestrune.app>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "working memory for unfinished work")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tessarine remembers the work you leave running in other applications (AI chats,
coding agents, terminal commands, downloads, half-written mails), notices when it has
finished and takes you back to it. Everything stays in an encrypted local database.
.
Before removing the package, each user who ran Tessarine should run the command
tessarine --uninstall-integration: it removes the browser host manifests, the
autostart entry and the companion copy written into their home folder. Their
loops stay in ~/.local/share/Kestrune until they delete that folder.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so the linked-library scan cannot see them: the QML modules the views
# import, Qt's X11 platform plugin, the SVG icon engine, the accessibility bus, xdg-open.
set(TESSARINE_RUNTIME_PACKAGES
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtquick-layouts
  qt6-qpa-plugins libqt6svg6 at-spi2-core xdg-utils)
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${TESSARINE_RUNTIME_PACKAGES}")
# A Secret Service keeps the database key (without one a key file is used); the pinned mark
# is an emoji.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "gnome-keyring | kwalletmanager | keepassxc, fonts-noto-color-emoji")
set(CPACK_STRIP_FILES ON)
include(CPack)
