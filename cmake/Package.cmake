# The Debian package: `cpack -G DEB` in the build folder (or the `package` target) writes
# caddora_VERSION_ARCH.deb. Runtime libraries are found by dpkg-shlibdeps.
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)

# The changelog's newest entry is the package version; a forgotten entry fails here, not in
# lintian.
file(STRINGS ${_pkg}/debian/changelog _top LIMIT_COUNT 1)
if(NOT _top MATCHES "^caddora \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME caddora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velloran)
set(CPACK_PACKAGE_CONTACT "CADDORA tool developers <caddora-tool@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "maintenance tool for the CADDORA golf navigator")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "With the navigator plugged in by USB, one window imports the golfer's saved\n"
    "shots and putts into a CSV file, writes course-data files and new firmware\n"
    "into the navigator, and shows version information. caddora-cli runs the same\n"
    "jobs from a terminal and packs firmware files; caddora-sim is a virtual\n"
    "navigator for trying the tool out.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Japanese; these fonts match the metrics its layout was made with.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/debian/postinst ${_pkg}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
