# Starts or stops the Wine prefix that a test run's programs share:
#   cmake -E env WINEPREFIX=... <Wine variables> \
#     cmake -DWINE=<loader> -DWINESERVER=<server> [-DDESKTOP_USER=<program>] \
#       -DACTION=start|stop -P WinePrefix.cmake
# start makes the prefix anew, so that no run sees what an earlier one left,
# and keeps its server and Wine's own background programs up until stop, so
# that the tests do not each pay for starting them.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED ENV{WINEPREFIX})
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()
set(prefix "$ENV{WINEPREFIX}")
set(log "${prefix}.log")

# A server left by an earlier run, or by test discovery, would keep the old
# prefix alive.
execute_process(COMMAND "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND "${WINESERVER}" -w OUTPUT_QUIET ERROR_QUIET)

if(ACTION STREQUAL "start")
  file(REMOVE_RECURSE "${prefix}")
  file(MAKE_DIRECTORY "${prefix}")
  # Wine's server and background programs outlive the command that starts
  # them and keep its standard streams open. Given ctest's pipes they would
  # hold up this step, and any test that starts them, until they end; given
  # files they hold nothing up.
  execute_process(COMMAND "${WINESERVER}" -p INPUT_FILE /dev/null OUTPUT_FILE "${log}"
                  ERROR_FILE "${log}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot start a persistent wineserver for ${prefix} (status ${status})")
  endif()
  execute_process(COMMAND "${WINE}" wineboot --init INPUT_FILE /dev/null OUTPUT_FILE "${log}"
                  ERROR_FILE "${log}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(READ "${log}" wine_said)
    message(FATAL_ERROR "wineboot --init failed in ${prefix} (status ${status}):\n${wine_said}")
  endif()
  # Xvfb runs no window manager, and Wine would wait two seconds for one each
  # time it hides a window it leaves to one; it draws its windows' frames itself.
  execute_process(COMMAND "${WINE}" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed
                          /d N /f
                  INPUT_FILE /dev/null OUTPUT_FILE "${log}" ERROR_FILE "${log}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot set Wine's X11 driver to draw window frames (status ${status})")
  endif()
  # Wine closes its desktop a second after the last program using it ends;
  # see tests/support/wine_desktop_user.cpp for what that costs the window
  # tests. start returns at once and leaves the program running.
  if(DEFINED DESKTOP_USER)
    execute_process(COMMAND "${WINE}" start /b /unix "${DESKTOP_USER}"
                    INPUT_FILE /dev/null OUTPUT_FILE "${log}" ERROR_FILE "${log}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "cannot start ${DESKTOP_USER} (status ${status})")
    endif()
  endif()
  message(STATUS "Wine prefix ready: ${prefix}")
elseif(NOT ACTION STREQUAL "stop")
  message(FATAL_ERROR "ACTION must be start or stop, not '${ACTION}'")
endif()
