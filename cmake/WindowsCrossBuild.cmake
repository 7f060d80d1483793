# What a Windows build made on Linux needs beyond the toolchain file: CLI11,
# nlohmann-json and GoogleTest for the target, and Wine to run the target's programs.

# Debian's CLI11 config sits in /usr and puts /usr/include on the include path,
# which would let glibc's headers into a MinGW build. Its config is
# relocatable, so a prefix holding only CLI11's headers and config serves.
set(VENDRAKE_HOST_CLI11_DIR /usr/share/cmake/CLI11
    CACHE PATH "The host's CLI11 CMake config folder, copied for the cross build")
get_filename_component(host_cli11_prefix "${VENDRAKE_HOST_CLI11_DIR}/../../.." ABSOLUTE)
set(cli11_prefix "${CMAKE_BINARY_DIR}/cli11-prefix")
file(COPY "${host_cli11_prefix}/include/CLI" DESTINATION "${cli11_prefix}/include")
file(COPY "${VENDRAKE_HOST_CLI11_DIR}/" DESTINATION "${cli11_prefix}/share/cmake/CLI11")
set(CLI11_DIR "${cli11_prefix}/share/cmake/CLI11" CACHE PATH "" FORCE)

# nlohmann-json likewise: headers only, and a relocatable config.
set(VENDRAKE_HOST_NLOHMANN_JSON_DIR /usr/share/cmake/nlohmann_json
    CACHE PATH "The host's nlohmann_json CMake config folder, copied for the cross build")
get_filename_component(host_json_prefix "${VENDRAKE_HOST_NLOHMANN_JSON_DIR}/../../.." ABSOLUTE)
set(json_prefix "${CMAKE_BINARY_DIR}/nlohmann-json-prefix")
file(COPY "${host_json_prefix}/include/nlohmann" DESTINATION "${json_prefix}/include")
file(COPY "${VENDRAKE_HOST_NLOHMANN_JSON_DIR}/" DESTINATION "${json_prefix}/share/cmake/nlohmann_json")
set(nlohmann_json_DIR "${json_prefix}/share/cmake/nlohmann_json" CACHE PATH "" FORCE)

# Debian ships GoogleTest built for Linux only; its sources build for the target.
set(VENDRAKE_GOOGLETEST_SOURCE /usr/src/googletest
    CACHE PATH "GoogleTest sources, built for the target")

# The target's programs (tests and test discovery included) run under Wine in
# a prefix of this build's own, with Wine's debug chatter off and UTF-8 as the
# locale of the Linux side, so that non-ASCII file names reach the program intact.
find_program(VENDRAKE_WINE NAMES wine wine64 PATHS /usr/lib/wine REQUIRED
             DOC "Wine's loader, to run the target's programs")
find_program(VENDRAKE_WINESERVER NAMES wineserver PATHS /usr/lib/wine REQUIRED
             DOC "Wine's server, started and stopped once per test run")
set(VENDRAKE_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix")
set(VENDRAKE_WINE_ENVIRONMENT WINEPREFIX=${VENDRAKE_WINE_PREFIX} WINEDEBUG=-all LANG=C.UTF-8
                              WINEDLLOVERRIDES=mscoree,mshtml=)
# Through scripts/wine-run.sh, which starts a program once more where Wine
# failed to start it at all.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${CMAKE_COMMAND} -E env
      ${VENDRAKE_WINE_ENVIRONMENT} ${VENDRAKE_WINE})
endif()

# The Linux build whose outputs the Windows build's must match byte for byte.
set(VENDRAKE_LINUX_CLI "${PROJECT_SOURCE_DIR}/build/dev/cli/vendrake-cli"
    CACHE FILEPATH "The Linux build's vendrake-cli, for the end-to-end comparison")
