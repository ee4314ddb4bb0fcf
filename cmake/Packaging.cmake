# SPDX-License-Identifier: Apache-2.0
# Debian package of dssview, built by CPack: `cpack -G DEB` in a build tree,
# or scripts/package.sh, which also checks the result.
#
# The package holds the program, its manual page (installed by the top-level
# CMakeLists.txt) and the two files Debian wants in /usr/share/doc/dssview:
# the copyright file and a compressed changelog.

set(DSSVIEW_PACKAGE_MAINTAINER
    "dssview maintainers <maintainers@users.noreply.c-seed-ea219913.example>"
    CACHE STRING "Maintainer field of the Debian package")

# /usr/share/doc/dssview/copyright and changelog.gz (a native package's name).
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
if(DSSVIEW_GZIP)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_BINARY_DIR}/packaging/changelog
            ${PROJECT_BINARY_DIR}/packaging/gz/changelog
    COMMAND ${DSSVIEW_GZIP} -9nf ${PROJECT_BINARY_DIR}/packaging/gz/changelog
    COMMAND ${CMAKE_COMMAND} -E rename ${PROJECT_BINARY_DIR}/packaging/gz/changelog.gz
            ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog VERBATIM)
  add_custom_target(dssview_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "dssview")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "dssview maintainers")
# The licence: its full text for CPack, its SPDX name where a generator has a field for it.
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RPM_PACKAGE_LICENSE "Apache-2.0")
set(CPACK_PACKAGE_CONTACT "${DSSVIEW_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "formatter for DRDA communications traces")
set(CPACK_PACKAGE_DESCRIPTION
"dssview turns a DRDA communications trace (a DRDADBG file) into readable
text: for every traced buffer its record number, tracing function, byte count
and time, and a listing of the buffer cut into its data stream structures,
16 bytes a line in hexadecimal beside ASCII and EBCDIC columns. With -f it
also decodes the DSS headers, the DDM objects and their values: numbers,
character strings, code points, manager levels, package names, coded values
with their meanings, SQL communications areas and FD:OCA descriptors.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DSSVIEW_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "database")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends: worked out by dpkg-shlibdeps from the libraries the binary uses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)
