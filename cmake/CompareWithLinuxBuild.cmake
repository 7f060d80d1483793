# Runs the Linux build's vendrake-cli and the Windows one (under Wine) on the
# bundled samples, at several scales, and fails unless both write the same
# files with the same bytes and print the same summary:
#   cmake -E env WINEPREFIX=... <Wine variables> cmake -DWINE=<loader>
#     -DWINDOWS_CLI=<exe> -DLINUX_CLI=<program> -DSAMPLES=<folder> -DWORK=<folder>
#     -P CompareWithLinuxBuild.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT EXISTS "${LINUX_CLI}")
  message(FATAL_ERROR "No Linux build of vendrake-cli at ${LINUX_CLI}: build it with "
                      "'cmake --preset dev && cmake --build --preset dev --target vendrake-cli' "
                      "(make windows-test does)")
endif()

# Wine shows the Linux root as drive Z:, so the Windows program is given the
# folders as a Windows user would type them.
function(windows_path path out)
  string(REPLACE "/" "\\" windows "${path}")
  set(${out} "Z:${windows}" PARENT_SCOPE)
endfunction()

# Runs both builds at `scale`, each in its own working folder, with the
# destination texts given, and compares what they print and write into the
# destination folders (absolute paths of the Linux side).
function(compare label scale cwd linux_dest_text linux_dest windows_dest_text windows_dest)
  file(MAKE_DIRECTORY "${cwd}/linux" "${cwd}/windows")
  execute_process(COMMAND "${LINUX_CLI}" --source "${SAMPLES}" --dest "${linux_dest_text}"
                          --scale "${scale}"
                  WORKING_DIRECTORY "${cwd}/linux"
                  OUTPUT_VARIABLE linux_out RESULT_VARIABLE linux_status)
  execute_process(COMMAND "${WINE}" "${WINDOWS_CLI}" --source "${samples_windows}"
                          --dest "${windows_dest_text}" --scale "${scale}"
                  WORKING_DIRECTORY "${cwd}/windows"
                  OUTPUT_VARIABLE windows_out ERROR_VARIABLE windows_err
                  RESULT_VARIABLE windows_status)
  string(REPLACE "\r\n" "\n" windows_out "${windows_out}")
  if(NOT linux_status EQUAL 0 OR NOT windows_status EQUAL 0)
    message(FATAL_ERROR "${label}: exit status ${linux_status} on Linux, "
                        "${windows_status} on Windows: ${windows_err}")
  endif()
  if(NOT linux_out STREQUAL windows_out)
    message(FATAL_ERROR "${label}: Linux printed '${linux_out}', Windows '${windows_out}'")
  endif()
  file(GLOB linux_files RELATIVE "${linux_dest}" "${linux_dest}/*")
  file(GLOB windows_files RELATIVE "${windows_dest}" "${windows_dest}/*")
  list(SORT linux_files)
  list(SORT windows_files)
  if(NOT linux_files OR NOT linux_files STREQUAL windows_files)
    message(FATAL_ERROR "${label}: Linux wrote '${linux_files}', Windows '${windows_files}'")
  endif()
  foreach(name IN LISTS linux_files)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${linux_dest}/${name}"
                            "${windows_dest}/${name}"
                    RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
      message(FATAL_ERROR "${label}: ${name} differs between Linux and Windows")
    endif()
  endforeach()
  list(LENGTH linux_files count)
  message(STATUS "${label}: the same ${count} files, byte for byte: ${linux_out}")
endfunction()

file(REMOVE_RECURSE "${WORK}")
windows_path("${SAMPLES}" samples_windows)
# 2 as in the README; 0.3 and -1.7 round every product.
foreach(scale 2 0.3 -1.7)
  set(cwd "${WORK}/${scale}")
  windows_path("${cwd}/windows/CliffNatural0_2x" windows_dest_text)
  compare("scale ${scale}" ${scale} "${cwd}" "${cwd}/linux/CliffNatural0_2x"
          "${cwd}/linux/CliffNatural0_2x" "${windows_dest_text}"
          "${cwd}/windows/CliffNatural0_2x")
endforeach()

# A destination relative to the current folder of a drive (no "\" after the
# colon) is named without the drive: Z:Rel_2x holds Rel_2x_A1 and so on. On
# Linux D:Rel_2x is a folder of that name, with the same outputs in it.
set(cwd "${WORK}/drive-relative")
compare("drive-relative destination" 2 "${cwd}" "D:Rel_2x" "${cwd}/linux/D:Rel_2x" "Z:Rel_2x"
        "${cwd}/windows/Rel_2x")
