# Compiler warnings, kept assertions and the sanitizer configurations.

add_compile_options(-Wall -Wextra -Werror -Wshadow=local -Wnon-virtual-dtor
                    -Wno-missing-field-initializers)

# Several operations stop the process on a violated precondition, so assert()
# must stay active in every build type.
foreach(cfg RELEASE RELWITHDEBINFO MINSIZEREL)
  foreach(lang C CXX)
    string(REPLACE "-DNDEBUG" "" CMAKE_${lang}_FLAGS_${cfg} "${CMAKE_${lang}_FLAGS_${cfg}}")
  endforeach()
endforeach()

# SANITIZE=address,undefined  or  SANITIZE=thread
set(SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(SANITIZE)
  add_compile_options(-fsanitize=${SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${SANITIZE})
  add_compile_definitions(BUILD_SANITIZED=1)
endif()
