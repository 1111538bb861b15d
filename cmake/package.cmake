# SPDX-License-Identifier: MIT
# `make deb`: five Debian packages built by CPack from a release tree
# configured with -DSDSMART_DEB=ON and the prefix /usr, one an install
# component (cmake/install.cmake):
#   libsdsmart1     runtime: the library, with shlibs and a symbols file
#   libsdsmart-dev  devel: headers, .so link, pkg-config and CMake files
#   sdsmart         tools: the tool, its units, rules, schemas and sample
#                   configuration
#   sdsmart-sim     sim: the virtual card, for host developers' tests
#   python3-sdsmart python: the Python module for fleet scripts (python/)
set(SDSMART_DEB_MAINTAINER "sdsmart developers <sdsmart-dev@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")

set(deb_components runtime devel tools sim python)
set(deb_runtime_name libsdsmart1)
set(deb_devel_name libsdsmart-dev)
set(deb_tools_name sdsmart)
set(deb_sim_name sdsmart-sim)
set(deb_python_name python3-sdsmart)

if(SDSMART_DEB)
  include(GNUInstallDirs)
  set(deb_doc ${PROJECT_BINARY_DIR}/debian)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${deb_doc}/changelog @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/man/sdsmart.1 ${deb_doc}/sdsmart.1 COPYONLY)
  configure_file(${PROJECT_SOURCE_DIR}/man/sdsim.1 ${deb_doc}/sdsim.1 COPYONLY)
  # Debian keeps manual pages and changelogs compressed; -n leaves the name
  # and time out of the gzip header, so the packages are reproducible.
  execute_process(COMMAND gzip -9nf ${deb_doc}/changelog ${deb_doc}/sdsmart.1 ${deb_doc}/sdsim.1
    RESULT_VARIABLE gzip_rc)
  if(NOT gzip_rc EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog and manual pages failed")
  endif()
  # Every package carries the copyright and changelog under its own name.
  foreach(c ${deb_components})
    install(FILES ${deb_doc}/changelog.gz ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_${c}_name} COMPONENT ${c})
  endforeach()
  # The tool's package says what it holds and where to start (under 4 KiB:
  # Debian leaves such a file uncompressed).
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/README
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_tools_name} COMPONENT tools)
  install(FILES ${deb_doc}/sdsmart.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  install(FILES ${deb_doc}/sdsim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)
  # Where Debian's python3 finds the modules of packages (sources only: no
  # byte code in a package).
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/sdsmart DESTINATION lib/python3/dist-packages
    COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN __pycache__ EXCLUDE)
  # The MQTT hook for Home Assistant (sdsmart --on-change ... --on-every-reading).
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/contrib/mqtt/sdsmart-mqtt
    DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/sdsmart COMPONENT python)
  install(FILES ${PROJECT_SOURCE_DIR}/contrib/mqtt/mqtt.conf
    DESTINATION ${CMAKE_INSTALL_DATADIR}/sdsmart/mqtt COMPONENT python)

  # The symbols file: the interface a host may use (abi/symbols.list) as the
  # built library exports it, each symbol with the version that brought it.
  add_custom_command(OUTPUT ${deb_doc}/symbols
    COMMAND ${CMAKE_COMMAND} -DLIB=$<TARGET_FILE:sdsmart> -DNM=${CMAKE_NM}
      -DLIST=${PROJECT_SOURCE_DIR}/abi/symbols.list -DOUT=${deb_doc}/symbols
      -DPACKAGE=${deb_runtime_name} -DDEV_PACKAGE=${deb_devel_name}
      -DSONAME=libsdsmart.so.${PROJECT_VERSION_MAJOR} -DVERSION=1.0.0
      -P ${PROJECT_SOURCE_DIR}/cmake/debian/symbols.cmake
    DEPENDS sdsmart ${PROJECT_SOURCE_DIR}/abi/symbols.list
      ${PROJECT_SOURCE_DIR}/cmake/debian/symbols.cmake
    COMMENT "Writing the symbols file of ${deb_runtime_name}")
  add_custom_target(sdsmart_deb_symbols ALL DEPENDS ${deb_doc}/symbols)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/libsdsmart1/triggers
    ${deb_doc}/symbols)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/no_ldconfig_calls.cmake)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/conffiles
    ${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sdsmart)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SDSMART_DEB_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${deb_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the library of the tool in the tree; the dependency
# on its package comes from the component's DEPENDS below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A component's DEPENDS below becomes "Depends: <package> (= <version>)".
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON) # only libsdsmart1 has a library with a SONAME
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
foreach(c ${deb_components})
  string(TOUPPER ${c} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${deb_${c}_name})
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# Pure Python: one package for every architecture, which runs the tool of
# any build at least as new (no exact version: that would bind it to one
# architecture's build).
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, sdsmart (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS python3-paho-mqtt)

# CPack indents the lines after the first and turns the empty one into " .".
set(sdsmart_about "sdsmart reads the health and wear data (remaining life, erase counts, bad
blocks, ECC errors, card registers) of SD cards of one controller family,
through a USB card reader or a native SD host.")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "S.M.A.R.T. health and wear data of SD cards - library
${sdsmart_about}

This package holds the shared library libsdsmart.")
set(CPACK_COMPONENT_DEVEL_DESCRIPTION "S.M.A.R.T. health and wear data of SD cards - development files
${sdsmart_about}

This package holds the C and C++ headers of libsdsmart, its pkg-config file
and its CMake package (find_package(sdsmart) gives sdsmart::sdsmart).")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "S.M.A.R.T. health and wear data of SD cards - tool
${sdsmart_about}

The sdsmart tool prints a report, a JSON document or metrics for
node_exporter's textfile collector. The package also holds JSON schemas of
its documents, systemd units that write the metrics of every card hourly
(not enabled), Prometheus alert rules and a sample configuration.")
set(CPACK_COMPONENT_SIM_DESCRIPTION "virtual SD cards for testing hosts of libsdsmart
sdsim runs a program with virtual SD cards of the controller family that
libsdsmart reads, served through the same system calls as real cards (SCSI
pass-through and the MMC ioctl). Host developers test their programs with it
against cards they do not have, and against cards that fail part-way.

This package holds the launcher, the card library it preloads, sample cards
and the configuration they answer to.")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "S.M.A.R.T. health and wear data of SD cards - Python module
${sdsmart_about}

The Python 3 module sdsmart runs the sdsmart tool and gives its JSON
documents as typed results (None for a value not read), a card that failed
as an exception with the library's error code and message, and the cards'
histories and wear forecasts from the tool's state folder without
privileges. python3 -m sdsmart prints one line per card. It also holds
sdsmart-mqtt, the hook that passes each reading to Home Assistant through
an MQTT broker (with python3-paho-mqtt).")
include(CPack)
cpack_add_component(runtime)
cpack_add_component(devel DEPENDS runtime)
cpack_add_component(tools DEPENDS runtime)
cpack_add_component(sim)
cpack_add_component(python)
