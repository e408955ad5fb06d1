# The Debian package (tools/package.sh runs cpack on a Release build configured for /usr).
# Name, version and architecture make corvalen_<version>_<arch>.deb; the version is the project's,
# as --version and the manual page print it. Installed files come from the install() rules of the
# layers; this file adds what a Debian package needs besides: its copyright and changelog files and
# the control fields.
include(GNUInstallDirs)

set(corvalen_maintainer "Quillmark <support@quillmark.example>")
set(corvalen_docdir ${CMAKE_INSTALL_DATADIR}/doc/corvalen)

# The changelog of a native package (its version has no Debian revision): one entry per version,
# dated like the manual page (SOURCE_DATE_EPOCH when set, so that a package can be rebuilt the same).
string(TIMESTAMP CORVALEN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(CORVALEN_MAINTAINER ${corvalen_maintainer})
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
find_program(CORVALEN_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND ${CORVALEN_GZIP} -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
    COMMENT "Compressing the package changelog")
add_custom_target(corvalen_package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${corvalen_docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON) # the description holds quotes
set(CPACK_PACKAGE_NAME corvalen)
set(CPACK_PACKAGE_VENDOR Quillmark)
set(CPACK_PACKAGE_CONTACT ${corvalen_maintainer})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.quillmark.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "count the words of documents and how often each occurs")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Corvalen counts the words of Word documents (.doc, .docx), OpenDocument text,\n"
    "RTF, HTML, PDF and plain text files, and lists every distinct word with how\n"
    "often it occurs, least frequent first, and the total: one count for all files\n"
    "or one per file. The results go to a column-aligned text file, the clipboard\n"
    "or a spreadsheet workbook.\n"
    "\n"
    "The command \"corvalen count\" counts the same way from the shell, for scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from what the program links; besides them what it loads at run time: the X11 and
# other platform plugins, the SVG icon engine, and the fonts the windows ask for (Calibri on the
# command bars, Arial on the windows, matched by metric-compatible fonts).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6svg6, fonts-crosextra-carlito, fonts-liberation2 | fonts-liberation")
# Help > FAQ, the demonstration video, the samples folder and the web page open in other programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# Lemmas beyond the built-in English come from the Hunspell dictionaries installed.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "hunspell-dictionary")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
