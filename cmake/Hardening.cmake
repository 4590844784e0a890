# Debian's hardening flags for every binary of the product: stack protector, fortified libc
# calls, PIE, full RELRO with BIND_NOW. tests/deploy reads them back from the ELF files.

option(HARDENING "Build with the hardening flags" ON)
if(NOT HARDENING)
  return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
# With CMAKE_POSITION_INDEPENDENT_CODE (top level) executables now link with -pie too.

add_compile_options(-fstack-protector-strong -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i.86")
  add_compile_options(-fcf-protection)
endif()
add_link_options(-Wl,-z,relro -Wl,-z,now)

# _FORTIFY_SOURCE needs optimisation (glibc warns without it, and warnings are errors) and
# clashes with the sanitizers' own interceptors, so the Debug, sanitizer and fuzzing builds
# go without it.
string(TOUPPER "${CMAKE_BUILD_TYPE}" _hardening_build_type)
if(NOT SANITIZE AND NOT ENABLE_FUZZING AND NOT _hardening_build_type STREQUAL "DEBUG")
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
endif()
