# Desktop integration files and the Debian package.
#
#   cmake --install BUILD [--prefix /usr]    binary, desktop file, icon, metainfo
#   cpack --config BUILD/CPackConfig.cmake   orvik_<version>_<arch>.deb
include(GNUInstallDirs)

set(ORVIK_APP_ID "de.orvik.Orvik")
set(ORVIK_PACKAGE_MAINTAINER "Orvik <packaging@orvik.invalid>"
    CACHE STRING "Maintainer field of the Debian package: Name <address>")

set(_data "${PROJECT_SOURCE_DIR}/data")
install(FILES "${_data}/${ORVIK_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_data}/${ORVIK_APP_ID}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${_data}/${ORVIK_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "orvik")
set(CPACK_PACKAGE_VENDOR "Orvik")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Orvik ist ein ruhiges Schreibprogramm für Markdown: Blätter als Markdown-Dateien in\n\
Gruppen, Volltextsuche, Papierkorb, stündliche Sicherungen und Export als PDF,\n\
DOCX, HTML und RTF, im Fenster und auf der Kommandozeile.")
set(CPACK_PACKAGE_CONTACT "${ORVIK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVIK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "editors")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Shared libraries come from dpkg-shlibdeps; these are what the binary loads
# by name at run time: the fallback font, SVG icons and the German dictionary,
# the editor's typefaces and Qt's own German texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libqt6svg6, breeze-icon-theme, hunspell-de-de, qt6-translations-l10n, fonts-sil-charis, \
fonts-linuxlibertine, fonts-ebgaramond, fonts-texgyre, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")

include(CPack)
