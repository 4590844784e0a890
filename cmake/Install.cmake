# What `cmake --install` puts on the board, and the Debian packages made from it (cpack).
#
# Components, one per package:
#   quillon        Quillon, the web pages, the factory settings, S40network and S50quillon
#   peerlo         peerlo and S60peerlo
#   libsluice1     libSluice.so.1 (the soname) and its versioned file
#   libsluicedev   sluice.h, sluice.pc and the libSluice.so link (package libsluice-dev)
#   tools          sluice-cast, to check a cast on the board (image only, not packaged)
# The board fixes the web root, the settings and init script places (absolute paths below);
# the rest follows the usual /usr layout. Board paths install only under DESTDIR (scripts/image,
# cpack), never into this machine's /etc or /root.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(BOARD_WEB_ROOT /root/custom_files/web/website)
set(BOARD_FACTORY_DIR /customer)
set(BOARD_INIT_DIR /etc/init.d)

# `install` (and cpack's preinstall step) need only what is installed, not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# First of all rules, so that a plain `cmake --install` without DESTDIR stops before it writes
# anything; the libSluice components alone install under any --prefix.
foreach(component quillon peerlo)
  install(CODE [[
    if("$ENV{DESTDIR}" STREQUAL "")
      message(FATAL_ERROR "board files install only under DESTDIR (scripts/image, cpack)")
    endif()]] COMPONENT ${component})
endforeach()

# --- libSluice ---
# install(TARGETS) here, outside Sluice/, would read a relative PUBLIC_HEADER from this folder.
get_target_property(_sluice_headers Sluice PUBLIC_HEADER)
get_target_property(_sluice_dir Sluice SOURCE_DIR)
set(_sluice_full_headers)
foreach(header IN LISTS _sluice_headers)
  if(NOT IS_ABSOLUTE ${header})
    set(header ${_sluice_dir}/${header})
  endif()
  list(APPEND _sluice_full_headers ${header})
endforeach()
set_target_properties(Sluice PROPERTIES PUBLIC_HEADER "${_sluice_full_headers}")
# The .pc file finds the prefix relative to itself, so any --prefix given at install works.
file(RELATIVE_PATH SLUICE_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" SLUICE_PC_TO_PREFIX "${SLUICE_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/Sluice/sluice.pc.in ${PROJECT_BINARY_DIR}/Sluice/sluice.pc
  @ONLY)
install(TARGETS Sluice
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libsluice1
    NAMELINK_COMPONENT libsluicedev
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT libsluicedev)
install(FILES ${PROJECT_BINARY_DIR}/Sluice/sluice.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libsluicedev)

install(TARGETS sluice-cast RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# --- Quillon and peerlo with their init scripts ---
install(TARGETS Quillon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT quillon)
install(TARGETS peerlo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT peerlo)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/ DESTINATION ${BOARD_WEB_ROOT} COMPONENT quillon
  PATTERN tests EXCLUDE PATTERN player EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/board/rootfs/customer/encoder.ini
  DESTINATION ${BOARD_FACTORY_DIR} COMPONENT quillon)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/board/rootfs/etc/init.d/S40network
  DESTINATION ${BOARD_INIT_DIR} COMPONENT quillon)

# The two daemons share one init script template.
function(board_daemon_script script component program args pidname description)
  set(SCRIPT ${script})
  set(PROGRAM ${program})
  set(ARGS ${args})
  set(PIDNAME ${pidname})
  set(DESCRIPTION ${description})
  set(BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
  configure_file(${PROJECT_SOURCE_DIR}/board/rootfs/etc/init.d/daemon.in
    ${PROJECT_BINARY_DIR}/board-init.d/${script} @ONLY)
  install(PROGRAMS ${PROJECT_BINARY_DIR}/board-init.d/${script}
    DESTINATION ${BOARD_INIT_DIR} COMPONENT ${component})
endfunction()
board_daemon_script(S50quillon quillon Quillon 1 quillon "the configuration web server")
board_daemon_script(S60peerlo peerlo peerlo 1 peerlo "the discovery and provisioning daemon")

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)
