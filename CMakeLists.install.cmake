# What `cmake --install` puts in place: the program, its manual page, the
# Zabbix template(s), the systemd service and timer, and the example
# environment file. Included from CMakeLists.txt. Paths follow the install
# prefix, so the unit's ExecStart= and the manual page name where things are.
include(GNUInstallDirs)

option(BMC_PROBE_MANPAGE "Build the manual page bmc-probe(1) with scdoc" ON)
set(BMC_PROBE_SYSTEMD_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system"
    CACHE PATH "Where the systemd service and timer are installed")

install(TARGETS bmc-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Every template, however many Zabbix versions they are split into.
file(GLOB zabbix_templates CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/zabbix/*.yaml)
install(FILES ${zabbix_templates} DESTINATION ${CMAKE_INSTALL_DATADIR}/bmc-probe/zabbix)

configure_file(contrib/bmc-probe@.service.in bmc-probe@.service @ONLY)
configure_file(contrib/bmc-probe-fleet.service.in bmc-probe-fleet.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/bmc-probe@.service contrib/bmc-probe@.timer ${CMAKE_BINARY_DIR}/bmc-probe-fleet.service
        DESTINATION ${BMC_PROBE_SYSTEMD_UNIT_DIR})
install(FILES contrib/bmc-probe.env.example DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

if(BMC_PROBE_MANPAGE)
  find_program(SCDOC scdoc REQUIRED)
  file(STRINGS src/support/program.h version_line REGEX "VERSION = \"")
  string(REGEX MATCH "[0-9][0-9.]*" BMC_PROBE_VERSION "${version_line}")
  configure_file(docs/bmc-probe.1.scd.in bmc-probe.1.scd @ONLY)
  add_custom_command(OUTPUT bmc-probe.1
                     COMMAND ${SCDOC} < bmc-probe.1.scd > bmc-probe.1
                     DEPENDS ${CMAKE_BINARY_DIR}/bmc-probe.1.scd
                     VERBATIM)
  add_custom_target(manpage ALL DEPENDS bmc-probe.1)
  install(FILES ${CMAKE_BINARY_DIR}/bmc-probe.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
