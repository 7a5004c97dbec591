# The Debian package of the programs, made by CPack: `make package`, or
# `cpack -G DEB` in a build folder. What the folders install goes in under
# /usr; the libraries the programs link give the dependencies
# (dpkg-shlibdeps), plus Qt's platform plugins, without which the window
# cannot open.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME snapreel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Snapreel developers <snapreel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns a video into stills at its scene changes")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Turns a video into stills at its scene changes\n"
    " Snapreel walks the first video stream of an AVI file in steps, measures each\n"
    " visited frame's mean colour and writes the frame as a picture whenever that\n"
    " colour has moved far enough from the last still's. snapreel is the window,\n"
    " snapreel-cli the same extraction for scripts, with info and frame commands.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic")
set(CPACK_STRIP_FILES ON)
include(CPack)

# The package's contents and dependencies, checked by a test in the normal
# build (the sanitizer build's programs are no package).
if(LUM_BUILD_TESTS AND NOT LUM_SANITIZE)
    add_test(NAME package_contents
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-package.sh ${PROJECT_BINARY_DIR})
    set_tests_properties(package_contents PROPERTIES LABELS package TIMEOUT 600)
endif()
