# Debian packages through CPack (scripts/package runs it): vantrel3 with the program,
# the console runner and their desktop files; vantrel3-results-host with the host and
# its (not enabled) systemd unit.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel3)
set(CPACK_PACKAGE_VENDOR "the Vantrel 3 developers")
set(CPACK_PACKAGE_CONTACT "${VANTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program results-host)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VANTREL_HOMEPAGE_URL}")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME vantrel3)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SHLIBDEPS ON)
# Its results host is for whoever runs one; the settings file makes a removed package purgeable.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS vantrel3-results-host)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/program/conffiles)
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "small desktop CPU benchmark with a shared results list
Vantrel 3 runs six numeric tests for one second each, counts every step
they complete and shows the count divided by 256 as a score in Vantrels.
Scores can be submitted to a results host and compared with everyone
else's. The console runner vantrel3-bench runs the same tests without a
window and can print JSON.")

set(CPACK_DEBIAN_RESULTS-HOST_PACKAGE_NAME vantrel3-results-host)
set(CPACK_DEBIAN_RESULTS-HOST_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_RESULTS-HOST_PACKAGE_DEPENDS "python3, python3-pyftpdlib")
set(CPACK_DEBIAN_RESULTS-HOST_PACKAGE_SECTION net)
set(CPACK_DEBIAN_RESULTS-HOST_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/host/conffiles
  ${PROJECT_SOURCE_DIR}/packaging/host/postinst ${PROJECT_SOURCE_DIR}/packaging/host/prerm
  ${PROJECT_SOURCE_DIR}/packaging/host/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RESULTS-HOST_DESCRIPTION "FTP and web server for the shared Vantrel 3 results file
Serves one data folder to Vantrel 3 over FTP (for submitting results) and
HTTP (for reading them). Comes with a systemd unit that is installed but
not enabled; its ports and data folder are set in
/etc/default/vantrel3-results-host.")

include(CPack)
