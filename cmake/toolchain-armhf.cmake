# Cross-compiling for the board (32-bit ARM, hard float) with Debian's cross toolchain and
# the :armhf libraries installed beside the host's (scripts/cross-build sets this up).
# CROSS_EXTRA_ROOT: where scripts/cross-build unpacked the -dev packages that cannot be
# installed for two architectures at once.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# Test programs run under user-mode emulation (gtest discovery and ctest).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CROSS_EXTRA_ROOT)
if(CROSS_EXTRA_ROOT)
  list(APPEND CMAKE_PREFIX_PATH ${CROSS_EXTRA_ROOT}/usr)
endif()
# pkg-config sees only the armhf .pc files (and the architecture-independent ones).
set(ENV{PKG_CONFIG_LIBDIR}
  "${CROSS_EXTRA_ROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
