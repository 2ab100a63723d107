# The Debian package (cpack -G DEB, run from the build directory) and its
# check. Everything `cmake --install` puts in place goes into the package;
# what it depends on is worked out by dpkg-shlibdeps from the programs.

# Who stands behind the package; used by the package's control file, its
# changelog and copyright file, and the AppStream metainfo.
set(ZV_PACKAGE_VENDOR "ZV File Transfer developers")
set(ZV_PACKAGE_MAINTAINER "${ZV_PACKAGE_VENDOR} <zv-file-transfer@example.org>"
    CACHE STRING "Maintainer field of the Debian package: name <address>")
set(ZV_PROJECT_URL "https://www.example.org/zv-file-transfer"
    CACHE STRING "Home page named by the package and the metainfo (screenshots below it)")
# SPDX expression; LicenseRef-proprietary until the program is published
# under a licence.
set(ZV_LICENSE "LicenseRef-proprietary" CACHE STRING "SPDX licence of the program")
set(ZV_LICENSE_NOTE "No licence has been granted for this program yet: all rights are reserved by its copyright holders."
    CACHE STRING "The licence paragraph of the package's copyright file (for a common licence: where its text is)")

set(CPACK_PACKAGE_NAME zv-file-transfer)
set(CPACK_PACKAGE_VENDOR "${ZV_PACKAGE_VENDOR}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy recordings from a Wi-Fi audio recorder")
set(CPACK_PACKAGE_DESCRIPTION
    "ZV File Transfer keeps a link to a ZV Wi-Fi audio recorder, lists its music\n"
    "and multitrack folders, shows a recording's details and downloads the\n"
    "checked recordings, verifying every data packet.\n"
    "\n"
    "The package holds the window program zv-file-transfer, the command-line\n"
    "program zv-transfer for scripts, and zv-recorder-sim, a recorder simulator\n"
    "to try both without a recorder.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${ZV_PROJECT_URL}")
set(CPACK_PACKAGE_CONTACT "${ZV_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Recorders name their recordings and folders in Japanese, Chinese or Korean
# as well.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# Builds the package into a scratch folder, unpacks it and checks what it
# carries (needs the dpkg tools and the validators: label "package", skipped
# where one is missing).
if(BUILD_TESTING)
    add_test(NAME package_deb
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/checkpackage.sh ${PROJECT_BINARY_DIR} ${PROJECT_VERSION})
    set_tests_properties(package_deb PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
