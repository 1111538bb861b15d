# SPDX-License-Identifier: MIT
# `make deb`: one Debian package built by CPack from a release tree configured
# with -DSDSMART_DEB=ON and the prefix /usr. It holds the library (SONAME
# links, shlibs), the header, pkg-config and CMake files, the sdsmart tool
# with its man page, schemas, systemd units and alert rules. The virtual card
# (sdsim) stays out: it is a test instrument that interposes the C library,
# nothing a host that reads real cards should carry.
set(SDSMART_DEB_MAINTAINER "sdsmart developers <sdsmart-dev@example.org>" CACHE STRING
  "Maintainer field of the Debian package")

if(SDSMART_DEB)
  include(GNUInstallDirs)
  set(deb_doc ${PROJECT_BINARY_DIR}/debian)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${deb_doc}/changelog @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/man/sdsmart.1 ${deb_doc}/sdsmart.1 COPYONLY)
  # Debian keeps manual pages and changelogs compressed; -n leaves the name
  # and time out of the gzip header, so the package is reproducible.
  execute_process(COMMAND gzip -9nf ${deb_doc}/changelog ${deb_doc}/sdsmart.1
    RESULT_VARIABLE gzip_rc)
  if(NOT gzip_rc EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog and manual page failed")
  endif()
  install(FILES ${deb_doc}/changelog.gz ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sdsmart COMPONENT tools)
  install(FILES ${deb_doc}/sdsmart.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers
    ${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sdsmart)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SDSMART_DEB_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL runtime devel tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack indents the lines after the first and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "S.M.A.R.T. health and wear data of SD cards
sdsmart reads the health and wear data (remaining life, erase counts, bad
blocks, ECC errors, card registers) of SD cards of one controller family,
through a USB card reader or a native SD host. It prints a report, a JSON
document or metrics for node_exporter's textfile collector.

The package holds the libsdsmart library with its C header, pkg-config and
CMake files, the sdsmart tool, JSON schemas of its documents, systemd units
that write the metrics of every card hourly, and Prometheus alert rules.")
include(CPack)
