# The Debian package skarv_<version>_<arch>.deb, made by CPack's DEB generator
# from this build's install rules (scripts/package.sh): the two programs, the
# udev rule (backends/), the recorder service with its system user and an
# example configuration, the client's desktop entry and icon, the manual
# pages generated from each program's --help, the README, the changelog and
# the copyright file. Dependencies come from the binaries (dpkg-shlibdeps).
include(GNUInstallDirs)
set(SKARV_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(SKARV_DOC share/doc/skarv)

install(FILES ${SKARV_PACKAGING}/skarv-record@.service DESTINATION /lib/systemd/system)
install(FILES ${SKARV_PACKAGING}/skarv.sysusers DESTINATION lib/sysusers.d RENAME skarv.conf)
install(FILES ${SKARV_PACKAGING}/example.conf DESTINATION /etc/skarv)
install(FILES ${SKARV_PACKAGING}/skarv-client.desktop DESTINATION share/applications)
install(FILES ${SKARV_PACKAGING}/skarv-client.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${SKARV_PACKAGING}/copyright DESTINATION ${SKARV_DOC})

# Documentation compressed as Debian's policy asks (gzip -9n: no name, no
# time, so the package is the same from one build to the next).
set(SKARV_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)
configure_file(${SKARV_PACKAGING}/changelog.in ${SKARV_PACKAGE_FILES}/changelog @ONLY)
add_custom_command(OUTPUT ${SKARV_PACKAGE_FILES}/changelog.gz ${SKARV_PACKAGE_FILES}/README.md.gz
  COMMAND gzip -9nc ${SKARV_PACKAGE_FILES}/changelog > ${SKARV_PACKAGE_FILES}/changelog.gz
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/README.md > ${SKARV_PACKAGE_FILES}/README.md.gz
  DEPENDS ${SKARV_PACKAGE_FILES}/changelog ${CMAKE_SOURCE_DIR}/README.md VERBATIM)
set(SKARV_PACKAGE_OUTPUTS ${SKARV_PACKAGE_FILES}/changelog.gz ${SKARV_PACKAGE_FILES}/README.md.gz)
install(FILES ${SKARV_PACKAGE_FILES}/changelog.gz ${SKARV_PACKAGE_FILES}/README.md.gz DESTINATION ${SKARV_DOC})

# The manual pages, from the built programs' --help (not in a sanitizer's
# build, whose programs are not packaged).
if(SKARV_SANITIZER STREQUAL "")
  foreach(page skarv-client skarv-record)
    if(page STREQUAL "skarv-client")
      set(summary "plot, set up and record the Skarv laser range sensor")
      set(see "skarv-record(1)")
    else()
      set(summary "record the Skarv laser range sensor without windows")
      set(see "skarv-client(1), systemctl(1), journalctl(1)")
    endif()
    add_custom_command(OUTPUT ${SKARV_PACKAGE_FILES}/${page}.1.gz
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/manpage.sh $<TARGET_FILE:${page}> ${page} ${PROJECT_VERSION}
              ${summary} ${see} > ${SKARV_PACKAGE_FILES}/${page}.1
      COMMAND gzip -9nf ${SKARV_PACKAGE_FILES}/${page}.1
      DEPENDS ${page} ${CMAKE_SOURCE_DIR}/scripts/manpage.sh VERBATIM)
    list(APPEND SKARV_PACKAGE_OUTPUTS ${SKARV_PACKAGE_FILES}/${page}.1.gz)
    install(FILES ${SKARV_PACKAGE_FILES}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()
add_custom_target(package_files ALL DEPENDS ${SKARV_PACKAGE_OUTPUTS})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skarv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "The Skarv client developers <skarv-dev@skarv-sensors.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client and recorder for the Skarv laser range sensor")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "skarv-client plots the latest rotation of the Skarv rotating laser range
sensor, shows every measurement and its IMU, sends it its settings and
records every sample. skarv-record records without windows, as a service
(skarv-record@.service) where the machine has no screen. Both write CSV
and MCAP recordings, play them back, and publish the sensor over DDS to
ROS 2 tools.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd | systemd-standalone-sysusers, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${SKARV_PACKAGING}/postinst ${SKARV_PACKAGING}/prerm ${SKARV_PACKAGING}/postrm ${SKARV_PACKAGING}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
