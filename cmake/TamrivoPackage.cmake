# The Debian package: cd build && cpack -G DEB makes
# tamrivo_<version>_<arch>.deb. Its library dependencies are computed from
# the installed programs (dpkg-shlibdeps, which needs dpkg-dev and file).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamrivo)
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_CONTACT "Ostrel <tamrivo@ostrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "program STM32-based devices through their serial loader")
set(CPACK_PACKAGE_DESCRIPTION
    "Tamrivo writes firmware into the flash memory of STM32-based devices
through the small resident loader they run: it erases the pages the image
needs, writes it in blocks, reads every block back to verify it, and puts
the application's first block in last, so that an interrupted job never
leaves a half-written application that would start.
.
The package holds the window (tamrivo), the command-line tool for scripts
and production benches (tamrivo-cli, several ports at once) and a
simulated device on a pseudo-terminal (tamrivo-loader-sim).")
set(CPACK_PACKAGE_HOMEPAGE_URL https://www.ostrel.example)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads these at run time, so no library lists them: the platform
# plugins that show the window, the SQLite driver of the record store's
# default file, and Qt's own texts in the window's language; the
# PostgreSQL driver only a line of stations sharing one server needs.
if(QT_VERSION_MAJOR EQUAL 6)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS libqt6sql6-psql)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt5sql5-sqlite)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qttranslations5-l10n)
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS libqt5sql5-psql)
endif()

include(CPack)
