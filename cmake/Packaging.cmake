# Debian packages of the deliverables (cpack -G DEB in a build directory): quillon, peerlo,
# libsluice1 and libsluice-dev, for the architecture the build directory compiles for.
# Dependencies on Debian's libraries come from dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME encoder-appliance)
set(CPACK_PACKAGE_VENDOR "Encoder appliance team")
set(CPACK_PACKAGE_CONTACT "Encoder appliance team <appliance@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# The board paths are absolute; DESTDIR keeps them inside the package tree.
set(CPACK_SET_DESTDIR ON)
# Debug information stays in the build tree, as for the image.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_COMPONENTS_ALL quillon peerlo libsluice1 libsluicedev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE STREQUAL "arm-linux-gnueabihf")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
endif()

set(CPACK_DEBIAN_QUILLON_PACKAGE_NAME quillon)
set(CPACK_COMPONENT_QUILLON_DESCRIPTION
  "Configuration web server of the network video encoder\n Serves the web pages and the JSON API, keeps the settings file and sets up the network at boot.")
set(CPACK_DEBIAN_PEERLO_PACKAGE_NAME peerlo)
set(CPACK_COMPONENT_PEERLO_DESCRIPTION
  "Discovery and provisioning daemon of the network video encoder\n Answers discovery requests on UDP port 9002 and carries out provisioning commands.")
set(CPACK_DEBIAN_LIBSLUICE1_PACKAGE_NAME libsluice1)
set(CPACK_DEBIAN_LIBSLUICE1_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBSLUICE1_DESCRIPTION
  "MPEG transport stream casting library\n Casts encoded frames as MPEG-TS over UDP, RTP, raw TCP and chunked HTTP.")
# A shlibs file, so that packages built against libSluice.so.1 depend on libsluice1.
# (Only libsluice1 holds a shared object, so only it gets one.)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBSLUICEDEV_PACKAGE_NAME libsluice-dev)
set(CPACK_DEBIAN_LIBSLUICEDEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_LIBSLUICEDEV_DESCRIPTION
  "MPEG transport stream casting library - development files\n The C header sluice.h, the pkg-config file sluice.pc and the link for -lSluice.")
set(CPACK_DEBIAN_LIBSLUICEDEV_PACKAGE_DEPENDS "libsluice1 (= ${PROJECT_VERSION})")

include(CPack)
