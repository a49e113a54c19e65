# The Debian package: `cpack -G DEB` in the build directory makes
# hdrmend_<version>_<arch>.deb with the command, its man page, the libraries,
# their headers and both package files (CMake and pkg-config), installed
# under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hdrmend)
set(CPACK_PACKAGE_VENDOR "the hdrmend developers")
# A placeholder address until the project has a list of its own.
set(CPACK_PACKAGE_CONTACT "hdrmend developers <hdrmend@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair the frame count of raw data recordings")
# CPack indents each line of the long description as the control file wants.
set(CPACK_PACKAGE_DESCRIPTION "\
hdrmend counts the frames actually present in a multi-camera tracking
recording (a raw data file, binary or text, plain or compressed) and, when
the header states another count, replaces the file with a corrected copy
that was written completely first.

The package also holds the static libraries the command is built on, their
headers, a CMake package (find_package(hdrmend)) and a pkg-config file
(hdrmend.pc).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # strips the command; static libraries are left whole
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The command writes .gz files through gzip and reads them through gunzip,
# which every recording may need (a plain name whose .gz form is what exists
# is read through it too); the other filter programs serve only recordings
# of their kinds.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pigz, ncompress, libjpeg-turbo-progs")
find_program(HDRMEND_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(HDRMEND_FILE file)
mark_as_advanced(HDRMEND_DPKG_SHLIBDEPS HDRMEND_FILE)
if(HDRMEND_DPKG_SHLIBDEPS AND HDRMEND_FILE)
  # The C and C++ runtime versions the command was linked against.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "gzip")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, gzip")
endif()
include(CPack)
