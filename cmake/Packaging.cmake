# The Debian package: `cpack -G DEB` in the build folder after building.
# The package's dependencies are read from the shared libraries the programs link
# (dpkg-shlibdeps, from dpkg-dev), so they follow whatever Qt, zlib, ISA-L ... the build used.
set(CPACK_PACKAGE_NAME quellar)
set(CPACK_PACKAGE_VENDOR "Quellar")
set(CPACK_PACKAGE_CONTACT "Quellar <quellar@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Compare, join, filter and summarise the tables of Excel workbooks")
set(CPACK_PACKAGE_DESCRIPTION
    "Quellar shows two workbooks side by side and runs table operations on them: comparison, workbook comparison, join, filter, blank rows, group summary, page subtotals and conditional query and summary. Results are shown in a third pane and exported as workbooks. quellar-cli runs the same operations on the command line. The interface is in Simplified Chinese.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs load at run time rather than link: Qt's platform plugins (xcb, wayland).
# The web engine's helper process comes with libqt6webenginecore6-bin, which the shared
# library dependencies already name.
set(quellar_runtime_depends "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${quellar_runtime_depends}")
# Fonts that show the Chinese interface and draw Excel's default fonts with the same widths
# (Carlito for Calibri, Caladea for Cambria), Qt's Chinese texts for its standard dialogs
# and buttons, and the desktop's "open" for reports and exported workbooks.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-noto-cjk, fonts-crosextra-carlito, fonts-crosextra-caladea, qt6-translations-l10n, xdg-utils")
include(CPack)
