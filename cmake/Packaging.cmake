# Installation and the Debian package.
#
# Installed, the program, its libraries, the module and Plugins/Sys/ live together in
# /usr/lib/tessra-agent/ (the program finds the module and the plug-in beside itself, and the
# libraries through its $ORIGIN run path), with a link /usr/bin/tessra-agent, the systemd unit and
# the service's configuration file /etc/tessra-agent/agent.conf (a conffile: an upgrade keeps the
# administrator's edits).
#   cmake --install build/default            (the prefix is /usr unless set otherwise)
#   cpack --config build/default/CPackConfig.cmake -B build/package
set(TESSRA_AGENT_INSTALL_DIR "lib/tessra-agent")

install(TARGETS tessra-agent RUNTIME DESTINATION "${TESSRA_AGENT_INSTALL_DIR}")
install(TARGETS OrvaneCore OrvaneClientShared OrvaneJobServicesAgentTask
        LIBRARY DESTINATION "${TESSRA_AGENT_INSTALL_DIR}" NAMELINK_SKIP)
install(TARGETS FilePermissions LIBRARY DESTINATION "${TESSRA_AGENT_INSTALL_DIR}/Plugins/Sys")
install(CODE "
  set(LINK_DIR \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(MAKE_DIRECTORY \"\${LINK_DIR}\")
  file(CREATE_LINK \"../${TESSRA_AGENT_INSTALL_DIR}/tessra-agent\" \"\${LINK_DIR}/tessra-agent\" SYMBOLIC)
  message(STATUS \"Installing: \${LINK_DIR}/tessra-agent -> ../${TESSRA_AGENT_INSTALL_DIR}/tessra-agent\")
")
install(FILES "${PROJECT_SOURCE_DIR}/packaging/systemd/tessra-agent.service" DESTINATION "lib/systemd/system")
# The management server's example site (nginx), for the administrator to copy.
install(FILES "${PROJECT_SOURCE_DIR}/packaging/nginx/tessra-client-map.conf"
              "${PROJECT_SOURCE_DIR}/packaging/nginx/tessra-locations.conf"
        DESTINATION "share/doc/tessra-agent/examples/nginx")
# As the package does with its conffile, an install over an agent.conf keeps the administrator's.
install(CODE "
  if(EXISTS \"\$ENV{DESTDIR}/etc/tessra-agent/agent.conf\")
    message(STATUS \"Keeping: \$ENV{DESTDIR}/etc/tessra-agent/agent.conf\")
  else()
    file(INSTALL \"${PROJECT_SOURCE_DIR}/packaging/etc/agent.conf\" DESTINATION \"/etc/tessra-agent\")
  endif()
")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tessra-agent")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Tessra agent maintainers <tessra-agent@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client-management agent: runs this client's agent tasks as scheduled jobs")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "admin")
# What the program and its libraries link, as Debian 12 names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libfmt9, libpugixml1v5, libspdlog1.10, libcurl4, zlib1g, libssl3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/debian/conffiles;${PROJECT_SOURCE_DIR}/packaging/debian/postinst;${PROJECT_SOURCE_DIR}/packaging/debian/prerm;${PROJECT_SOURCE_DIR}/packaging/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
