# Cross-builds for 64-bit Windows with Debian's mingw-w64 compilers (the
# POSIX-threads flavour, which has std::thread and std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VENDRAKE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VENDRAKE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VENDRAKE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VENDRAKE_MINGW_TRIPLE}-windres)

# Libraries, headers and packages come from the target's tree only, so that
# nothing built for Linux slips into the build; programs are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${VENDRAKE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++, libgcc and winpthread linked in: the programs then need only the
# DLLs every Windows has. Without this they die at start (status 53 under Wine)
# wherever the MinGW run-time DLLs are missing.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
