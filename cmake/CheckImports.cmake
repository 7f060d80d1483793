# Fails unless every program in PROGRAMS imports only DLLs that come with
# Windows itself:
#   cmake -DOBJDUMP=<target objdump> -DPROGRAMS=<exe;exe...> -P CheckImports.cmake
# A MinGW run-time DLL (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) among
# them means the static link did not take, and the program would not start
# on a machine without MinGW.
cmake_minimum_required(VERSION 3.25)

set(windows_dlls advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ntdll.dll ole32.dll oleaut32.dll
                 shell32.dll user32.dll
                 version.dll)
# The console program loads no USER32, nor anything that brings it in
# (SHELL32, GDI32, OLE32): with it, Windows counts a program as windowed and
# no longer sends its console the log-off and shutdown events.
set(console_dlls advapi32.dll kernel32.dll msvcrt.dll ntdll.dll)

if(NOT PROGRAMS)
  message(FATAL_ERROR "PROGRAMS names no program")
endif()
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND "${OBJDUMP}" -p "${program}" OUTPUT_VARIABLE headers
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${program} failed (status ${status})")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
  if(NOT imports)
    message(FATAL_ERROR "${program}: no import table found")
  endif()
  set(names)
  set(foreign)
  set(allowed ${windows_dlls})
  get_filename_component(program_name "${program}" NAME)
  if(program_name STREQUAL "vendrake-cli.exe")
    set(allowed ${console_dlls})
  endif()
  foreach(import IN LISTS imports)
    string(REGEX REPLACE "DLL Name: " "" name "${import}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" name)
    list(APPEND names ${name})
    if(NOT name IN_LIST allowed)
      list(APPEND foreign ${name})
    endif()
  endforeach()
  message(STATUS "${program}: ${names}")
  if(foreign)
    message(FATAL_ERROR "${program} imports DLLs that Windows does not ship, or that it must not load: ${foreign}")
  endif()
endforeach()
