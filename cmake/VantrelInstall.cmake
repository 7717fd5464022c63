# Install rules: the programs, the menu entry, the icon in every hicolor size, the
# AppStream file, manual pages, and the results host with its systemd unit and its web page.
# Two components, one per Debian package: "program" (vantrel3) and "results-host".
include(GNUInstallDirs)

# The project has no web site of its own yet. The defaults use the reserved ".invalid"
# domain so that they can never point at someone else's; packagers set real addresses.
set(VANTREL_HOMEPAGE_URL "https://vantrel3.invalid/" CACHE STRING
  "Project home page shown by software centres")
set(VANTREL_SCREENSHOT_BASE_URL "${VANTREL_HOMEPAGE_URL}screenshots/" CACHE STRING
  "URL of a folder holding the pictures of docs/ (ends with /)")
set(VANTREL_PACKAGE_MAINTAINER "the Vantrel 3 developers <vantrel3@vantrel3.invalid>" CACHE STRING
  "Maintainer named in the Debian packages")
set(VANTREL_APPSTREAM_ID "invalid.vantrel3.Vantrel3")
# The release in the AppStream file and the packages' changelogs; move both together.
set(VANTREL_RELEASE_DATE "2026-12-07")
set(VANTREL_RELEASE_DATE_RFC2822 "Mon, 07 Dec 2026 00:00:00 +0000")

# Directories made by the install get 0755 whatever the umask, as packages expect.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(pkg_dir ${PROJECT_SOURCE_DIR}/packaging)
set(gen_dir ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS vantrel3 vantrel3-bench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)

# The results host: its package goes beside the results page, and the launcher in bin/ is told where that is
# relative to itself, so that it runs under any prefix (and from an unpacked Debian package).
set(host_data_dir ${CMAKE_INSTALL_DATADIR}/vantrel3-results-host)
file(RELATIVE_PATH host_package_place ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_DATADIR}/vantrel3-results-host)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/results-host)
file(READ ${PROJECT_SOURCE_DIR}/tools/results-host host_launcher)
set(source_place "\"../share/vantrel3-results-host\"")
string(FIND "${host_launcher}" "${source_place}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "tools/results-host does not name its installed place as ${source_place}")
endif()
string(REPLACE "${source_place}" "\"${host_package_place}\"" host_launcher "${host_launcher}")
file(CONFIGURE OUTPUT ${gen_dir}/bin/vantrel3-results-host CONTENT "${host_launcher}" @ONLY)
install(PROGRAMS ${gen_dir}/bin/vantrel3-results-host DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT results-host)
install(DIRECTORY tools/results_host DESTINATION ${host_data_dir} COMPONENT results-host
  FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)

# Icons come from the window's own drawing, rendered by a small program at build time.
set(VANTREL_ICON_SIZES 16 22 24 32 48 64 128 256)
add_executable(vantrel3-export-icons ${pkg_dir}/export_icons.cpp src/windows/ui/app_icon.cpp)
target_include_directories(vantrel3-export-icons PRIVATE src)
target_link_libraries(vantrel3-export-icons PRIVATE Qt6::Gui)
set(icon_files ${gen_dir}/hicolor/scalable/apps/vantrel3.svg)
foreach(size IN LISTS VANTREL_ICON_SIZES)
  list(APPEND icon_files ${gen_dir}/hicolor/${size}x${size}/apps/vantrel3.png)
endforeach()
add_custom_command(OUTPUT ${icon_files}
  COMMAND vantrel3-export-icons ${gen_dir}/hicolor ${VANTREL_ICON_SIZES}
  DEPENDS vantrel3-export-icons
  COMMENT "Rendering the program's icon")

# Packages want manual pages and changelogs compressed, reproducibly (-n: no time stamp).
set(compressed_files)
function(vantrel_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source})
  set(compressed_files ${compressed_files} ${output} PARENT_SCOPE)
endfunction()
foreach(page vantrel3 vantrel3-bench vantrel3-results-host)
  vantrel_gzip(${pkg_dir}/${page}.1 ${gen_dir}/${page}.1.gz)
endforeach()
foreach(PACKAGE vantrel3 vantrel3-results-host)
  configure_file(${pkg_dir}/changelog.in ${gen_dir}/${PACKAGE}/changelog @ONLY)
  vantrel_gzip(${gen_dir}/${PACKAGE}/changelog ${gen_dir}/${PACKAGE}/changelog.gz)
endforeach()
add_custom_target(vantrel_install_data ALL DEPENDS ${icon_files} ${compressed_files})

configure_file(${pkg_dir}/vantrel3.metainfo.xml.in ${gen_dir}/${VANTREL_APPSTREAM_ID}.metainfo.xml @ONLY)

# The packages' copyright file in Debian's machine-readable format, made from LICENSE.
file(STRINGS LICENSE license_lines)
set(license_body "")
foreach(line IN LISTS license_lines)
  if(line STREQUAL "")
    string(APPEND license_body " .\n")
  else()
    string(APPEND license_body " ${line}\n")
  endif()
endforeach()
file(WRITE ${gen_dir}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: Vantrel 3\n"
  "\n"
  "Files: *\n"
  "Copyright: 2026 the Vantrel 3 developers\n"
  "License: Expat\n"
  "${license_body}")

install(FILES ${pkg_dir}/vantrel3.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(DIRECTORY ${gen_dir}/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT program)
install(FILES ${gen_dir}/${VANTREL_APPSTREAM_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT program)
install(FILES ${gen_dir}/vantrel3.1.gz ${gen_dir}/vantrel3-bench.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${gen_dir}/copyright ${gen_dir}/vantrel3/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrel3 COMPONENT program)

install(FILES ${gen_dir}/vantrel3-results-host.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT results-host)
# The results page, served read-only from here at /vantrel/ (never from the data folder).
install(DIRECTORY web/ DESTINATION ${host_data_dir}/web COMPONENT results-host
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${gen_dir}/copyright ${gen_dir}/vantrel3-results-host/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrel3-results-host COMPONENT results-host)

# With the prefix /usr the settings belong in /etc, not /usr/etc. The unit is written at
# install time, so that its paths follow the prefix given then (cmake --install --prefix).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  install(FILES ${pkg_dir}/results-host.conf DESTINATION /etc/vantrel3 COMPONENT program)
else()
  install(FILES ${pkg_dir}/results-host.conf DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/vantrel3 COMPONENT program)
endif()
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(etc /etc)
  else()
    set(etc \"\${CMAKE_INSTALL_PREFIX}/etc\")
  endif()
  set(VANTREL_HOST_CONFIG \"\${etc}/default/vantrel3-results-host\")
  set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(${pkg_dir}/vantrel3-results-host.service.in ${gen_dir}/install/vantrel3-results-host.service @ONLY)
  file(INSTALL ${pkg_dir}/vantrel3-results-host.default DESTINATION \"\${etc}/default\"
    RENAME vantrel3-results-host)
  file(INSTALL ${gen_dir}/install/vantrel3-results-host.service
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
" COMPONENT results-host)
