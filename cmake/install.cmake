# SPDX-License-Identifier: MIT
# Install rules, one component a Debian package (cmake/package.cmake):
#   runtime  the library with its SONAME link
#   devel    the public headers, the .so link, a pkg-config file and a CMake
#            package (find_package(sdsmart) -> sdsmart::sdsmart)
#   tools    the sdsmart tool with its man page, the JSON schemas of its
#            documents, the systemd units of the hourly textfile run, the
#            Prometheus alert rules and a sample configuration
#   sim      the virtual card (sdsim, libsdsim.so), its sample cards and the
#            configuration they answer to
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
option(SDSMART_DEB "Lay the installed files out for the Debian package (make deb)" OFF)

install(TARGETS sdsmart EXPORT sdsmartTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT devel
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/sdsmart DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT devel FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")

install(EXPORT sdsmartTargets NAMESPACE sdsmart::
  FILE sdsmartTargets.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/sdsmart COMPONENT devel)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/sdsmartConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/sdsmartConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/sdsmart)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/sdsmartConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/sdsmartConfig.cmake
  ${PROJECT_BINARY_DIR}/cmake/sdsmartConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/sdsmart COMPONENT devel)

# pkg-config: the prefix is found from where the .pc file lies, so the file
# stays right for `cmake --install --prefix`, DESTDIR staging and moved trees.
file(RELATIVE_PATH SDSMART_PC_TO_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
string(REGEX REPLACE "/$" "" SDSMART_PC_TO_PREFIX "${SDSMART_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/sdsmart.pc.in ${PROJECT_BINARY_DIR}/sdsmart.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/sdsmart.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT devel)

if(TARGET sdsmart_cli)
  install(TARGETS sdsmart_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  if(NOT SDSMART_DEB) # the package carries it compressed (cmake/package.cmake)
    install(FILES ${PROJECT_SOURCE_DIR}/man/sdsmart.1
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/schema/sdsmart-card.schema.json
    ${PROJECT_SOURCE_DIR}/schema/sdsmart-scan.schema.json
    ${PROJECT_SOURCE_DIR}/schema/sdsmart-all.schema.json
    ${PROJECT_SOURCE_DIR}/schema/sdsmart-history.schema.json
    DESTINATION ${CMAKE_INSTALL_DATADIR}/sdsmart COMPONENT tools)
  install(FILES ${PROJECT_SOURCE_DIR}/contrib/prometheus/sdsmart.rules.yml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/sdsmart/prometheus COMPONENT tools)
  install(FILES ${PROJECT_SOURCE_DIR}/contrib/grafana/sdsmart-dashboard.json
    DESTINATION ${CMAKE_INSTALL_DATADIR}/sdsmart/grafana COMPONENT tools)
  # Under the prefix: systemd reads /usr/lib and /usr/local/lib/systemd/system.
  set(SDSMART_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Folder of the systemd units, relative to the prefix or absolute")
  configure_file(${PROJECT_SOURCE_DIR}/contrib/systemd/sdsmart-textfile.service.in
    ${PROJECT_BINARY_DIR}/contrib/sdsmart-textfile.service @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/contrib/sdsmart-textfile.service
    ${PROJECT_SOURCE_DIR}/contrib/systemd/sdsmart-textfile.timer
    DESTINATION ${SDSMART_SYSTEMD_UNIT_DIR} COMPONENT tools)
endif()
# The configuration file is read from /etc/sdsmart; elsewhere the sample lies
# under the prefix.
if(SDSMART_DEB)
  set(SDSMART_CONF_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/sdsmart)
else()
  set(SDSMART_CONF_DIR ${CMAKE_INSTALL_SYSCONFDIR}/sdsmart)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/contrib/config.ini DESTINATION ${SDSMART_CONF_DIR}
  COMPONENT tools)

# The virtual card. The launcher preloads ../lib/libsdsim.so from its own
# folder; in the package both live in a private folder (the card library has
# no SONAME and is nobody's to link), and /usr/bin/sdsim points there.
if(SDSMART_DEB)
  set(sim_dir ${CMAKE_INSTALL_LIBDIR}/sdsmart-sim)
  install(TARGETS sdsim LIBRARY DESTINATION ${sim_dir}/lib COMPONENT sim)
  install(TARGETS sdsim_launcher RUNTIME DESTINATION ${sim_dir}/bin COMPONENT sim)
  file(RELATIVE_PATH sim_link /usr/${CMAKE_INSTALL_BINDIR} /usr/${sim_dir}/bin/sdsim)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
  file(CREATE_LINK ${sim_link} ${PROJECT_BINARY_DIR}/debian/sdsim SYMBOLIC)
  install(FILES ${PROJECT_BINARY_DIR}/debian/sdsim DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT sim)
else()
  install(TARGETS sdsim LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sim)
  install(TARGETS sdsim_launcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
  install(FILES ${PROJECT_SOURCE_DIR}/man/sdsim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT sim)
endif()
file(GLOB sim_cards ${PROJECT_SOURCE_DIR}/sim/cards/*.json)
install(FILES ${sim_cards} DESTINATION ${CMAKE_INSTALL_DATADIR}/sdsmart-sim/cards COMPONENT sim)
install(FILES ${PROJECT_BINARY_DIR}/demo/config DESTINATION ${CMAKE_INSTALL_DATADIR}/sdsmart-sim
  COMPONENT sim)
