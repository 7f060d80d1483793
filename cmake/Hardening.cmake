# The flags Debian builds its packages with, for every target: fortified libc
# calls, checked at run time where the compiler can tell a buffer's size
# (level 3 from GCC 12 and Clang 9, which also use sizes known only at run
# time; glibc older than 2.33 takes 3 as 2), a stack protector, and the
# relocations made read-only once the program is loaded, every symbol bound
# at start (full RELRO). Windows builds take none of them.
if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
  return()
endif()

set(fortify_level 2)
if((CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
   OR (CMAKE_CXX_COMPILER_ID STREQUAL "Clang"
       AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 9))
  set(fortify_level 3)
endif()
# Fortification needs the optimiser; a compiler that defines the macro itself
# would warn of it being defined twice.
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=${fortify_level}>
                    -fstack-protector-strong -fstack-clash-protection)
add_link_options(-Wl,-z,relro -Wl,-z,now)
