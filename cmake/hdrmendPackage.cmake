# The Debian packages: `cpack -G DEB` in the build directory makes one per
# install component, versioned <project version>-<revision>:
#   hdrmend         (component hdrmend) the command, its manual page and the
#                   documents
#   libhdrmend-dev  (component dev) the static libraries, their headers, the
#                   CMake package (find_package(hdrmend)) and hdrmend.pc
# each with /usr/share/doc/<package>/copyright (machine-readable, the terms
# taken from LICENSE) and changelog.Debian.gz. tests/package/check-deb.sh
# makes them, runs lintian on them and installs them into a scratch root.

# Who answers for the packages; set it when building packages to hand out
# (-DHDRMEND_PACKAGE_MAINTAINER="Name <address>"). Debian's tools take the
# same from DEBFULLNAME and DEBEMAIL, and so does the first configure.
if(DEFINED ENV{DEBEMAIL} AND NOT "$ENV{DEBEMAIL}" STREQUAL "")
  set(maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
  string(STRIP "${maintainer}" maintainer)
else()
  set(maintainer "the hdrmend developers <hdrmend@example.org>")
endif()
set(HDRMEND_PACKAGE_MAINTAINER "${maintainer}" CACHE STRING
    "Maintainer of the Debian packages, as Name <address>")
# Counts the packagings of one release; back to 1 with each new version.
set(HDRMEND_DEBIAN_REVISION 1)
set(HDRMEND_DEBIAN_VERSION ${PROJECT_VERSION}-${HDRMEND_DEBIAN_REVISION})

# The copyright file: the licence's terms from LICENSE, after its title and
# copyright line, indented and with "." for blank lines, as the format wants.
set(debian ${PROJECT_BINARY_DIR}/debian)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(FIND "${licence}" "Permission is hereby granted" terms_start)
if(terms_start LESS 0)
  message(FATAL_ERROR "LICENSE does not hold the MIT License's terms")
endif()
string(SUBSTRING "${licence}" ${terms_start} -1 terms)
string(STRIP "${terms}" terms)
string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REGEX REPLACE "\n" "\n " HDRMEND_LICENSE_TERMS " ${terms}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${debian}/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

# The changelog, compressed as Debian wants it (-n: the same bytes each time).
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.Debian.in ${debian}/changelog.Debian @ONLY)
find_program(HDRMEND_GZIP gzip)
if(HDRMEND_GZIP)
  execute_process(COMMAND ${HDRMEND_GZIP} -9 -n -c ${debian}/changelog.Debian
                  OUTPUT_FILE ${debian}/changelog.Debian.gz RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${debian}/changelog.Debian")
  endif()
  set(changelog ${debian}/changelog.Debian.gz)
else()
  set(changelog ${debian}/changelog.Debian)
endif()

# The licence goes with every installation; the Debian changelog and the
# development package's own folder only into the packages.
install(FILES ${debian}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/hdrmend COMPONENT hdrmend)
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/hdrmend COMPONENT hdrmend
        EXCLUDE_FROM_ALL)
install(FILES ${debian}/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libhdrmend-dev
        COMPONENT dev EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/doc/RELIABILITY.md
        ${PROJECT_SOURCE_DIR}/doc/PERFORMANCE.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/hdrmend
        COMPONENT hdrmend)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL hdrmend dev)
set(CPACK_PACKAGE_NAME hdrmend)
set(CPACK_PACKAGE_VENDOR "the hdrmend developers")
set(CPACK_PACKAGE_CONTACT "${HDRMEND_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HDRMEND_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${HDRMEND_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SOURCE hdrmend)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # the command, and the archives (hdrmend_strip_installed_archive)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_HDRMEND_PACKAGE_NAME hdrmend)
set(CPACK_DEBIAN_HDRMEND_PACKAGE_SECTION utils)
# CPack indents each line of the long description as the control file wants.
set(CPACK_DEBIAN_HDRMEND_DESCRIPTION "repair the frame count of raw data recordings
hdrmend counts the frames actually present in a multi-camera tracking
recording (a raw data file, binary or text, plain or compressed) and, when
the header states another count, replaces the file with a corrected copy
that was written completely first. It also checks recordings without
changing them, and salvages the frames that read whole from a damaged one.")
# The command writes .gz files through gzip and reads them through gunzip,
# which every recording may need (a plain name whose .gz form is what exists
# is read through it too). gzip is essential, so the dependency carries a
# version, one older than any supported Debian or Ubuntu release has (the
# command uses gzip -9 and gunzip -c, both far older). pigz compresses
# on every core; ncompress serves .Z recordings.
set(CPACK_DEBIAN_HDRMEND_PACKAGE_RECOMMENDS "pigz, ncompress")
find_program(HDRMEND_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(HDRMEND_FILE file)
mark_as_advanced(HDRMEND_DPKG_SHLIBDEPS HDRMEND_FILE)
if(HDRMEND_DPKG_SHLIBDEPS AND HDRMEND_FILE)
  # The C and C++ runtime versions the command was linked against.
  set(CPACK_DEBIAN_HDRMEND_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_HDRMEND_PACKAGE_DEPENDS "gzip (>= 1.6)")
else()
  set(CPACK_DEBIAN_HDRMEND_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, gzip (>= 1.6)")
endif()

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libhdrmend-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "raw data recording libraries of hdrmend (development files)
Static libraries that read and write the raw data recordings of
multi-camera trackers (binary or text, plain or compressed through filter
programs), check and copy them frame by frame; hdrmend is built on them.
The package holds the libraries, their C++17 headers, a CMake package
(find_package(hdrmend), then hdrmend::rawdata) and a pkg-config file
(hdrmend.pc).")
include(CPack)
