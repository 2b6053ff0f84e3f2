# What `cmake --install` puts under the prefix, and the Debian package built
# from the same rules (`cpack -G DEB` in the build folder, or
# `cpack --preset deb`):
#   bin/                  the module, the print program, the batch printer,
#                         the data tool, telvoran-setup
#   share/telvoran/       forms, locale, help, file definitions and the
#                         template Nuva.ini a new installation starts from
#   share/man/man1, man5  the manual pages, compressed
#   share/doc/telvoran/   README, printing guide, copyright
# The demo data generator, the tests and the benchmarks stay in the build
# folder. The programs find the shared folder from their own place, so
# nothing installed names the prefix or the build folder.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# ZIZAVEZU goes in bin beside TELVORAN: an installation's ZELEXE names that
# one folder, and an administrator can run it by hand on a print file.
install(TARGETS telvoran zizavezu telvoran_print telvoran_send recmgr_tool telvoran_setup
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(TELVORAN_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/telvoran)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sample/FORMS ${PROJECT_SOURCE_DIR}/sample/LOCALE
                  ${PROJECT_SOURCE_DIR}/sample/AJUDA ${PROJECT_SOURCE_DIR}/sample/ddf
        DESTINATION ${TELVORAN_SHARE_DIR})
# The template, not the demo's Nuva.ini: the administrator's identity is
# blank until the office fills it in.
install(FILES ${PROJECT_SOURCE_DIR}/tools/telvoran_setup/Nuva.ini DESTINATION ${TELVORAN_SHARE_DIR})

# Manual pages: hand-written roff in man/, compressed as Debian wants them
# (gzip -n: no name or time stamp, so the package is reproducible).
set(TELVORAN_MAN_PAGES TELVORAN.1 ZIZAVEZU.1 telvoran-print.1 telvoran-send.1 recmgr.1 telvoran-setup.1 Nuva.ini.5)
set(telvoran_compressed_pages)
foreach(page IN LISTS TELVORAN_MAN_PAGES)
  set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/man/${page} > ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}
    VERBATIM)
  list(APPEND telvoran_compressed_pages ${out})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(telvoran_man ALL DEPENDS ${telvoran_compressed_pages})

set(TELVORAN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/telvoran)
# The README and the printing guide as an installed system reads them
# (cmake/installed_docs.cmake), with the guide's sample print files.
set(telvoran_doc_out ${PROJECT_BINARY_DIR}/doc)
add_custom_command(OUTPUT ${telvoran_doc_out}/README.md ${telvoran_doc_out}/printing.md
  COMMAND ${CMAKE_COMMAND} -E make_directory ${telvoran_doc_out}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT_DIR=${telvoran_doc_out}
          -P ${PROJECT_SOURCE_DIR}/cmake/installed_docs.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/tools/zizavezu/README.md
          ${PROJECT_SOURCE_DIR}/cmake/installed_docs.cmake)
add_custom_target(telvoran_docs ALL DEPENDS ${telvoran_doc_out}/README.md
                                            ${telvoran_doc_out}/printing.md)
install(FILES ${telvoran_doc_out}/README.md ${telvoran_doc_out}/printing.md
              ${PROJECT_SOURCE_DIR}/cmake/copyright
        DESTINATION ${TELVORAN_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/zizavezu/tests/data/statement_letterhead.tmp
              ${PROJECT_SOURCE_DIR}/tools/zizavezu/tests/data/statement_plain_paper.tmp
              ${PROJECT_SOURCE_DIR}/tools/zizavezu/tests/data/malformed.tmp
        DESTINATION ${TELVORAN_DOC_DIR}/examples)
set(TELVORAN_PACKAGE_MAINTAINER "TELVORAN maintainers <telvoran@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
# The package's changelog, as a native Debian package carries it: the
# version from project() filled in, compressed without name or time stamp.
configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/changelog
  VERBATIM)
add_custom_target(telvoran_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${TELVORAN_DOC_DIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvoran)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TELVORAN")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "settlement statements of a property-administration suite")
set(CPACK_PACKAGE_DESCRIPTION
    "TELVORAN prints the expense summary and settlement statement of each\n\
community of owners that a property administrator looks after, from the\n\
suite's keyed record files: interactively (TELVORAN, a text-terminal form)\n\
or in batch (telvoran-print), through its print program (ZIZAVEZU) to PDF,\n\
text or a printer.\n\
\n\
The package also holds recmgr, the tool that creates, loads and saves the\n\
record files in the sequential format other record managers export, and\n\
telvoran-setup, which makes a new, empty installation in Catalan, Spanish,\n\
Galician or Aranese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TELVORAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The print program's PDFs use the DejaVu fonts through fontconfig.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
