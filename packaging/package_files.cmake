# What a Debian package carries beside the programs: the manual pages, made
# from the programs' own --help by help2man so that they never drift from it,
# and in /usr/share/doc/vendrake the machine-readable copyright file and the
# changelog. The manual pages and the changelog are compressed as Debian
# wants them (gzip -9, without a time stamp) by the target
# vendrake-package-files, which `make dist` builds; they are installed only
# when it has been built.
include(GNUInstallDirs)

find_program(VENDRAKE_HELP2MAN help2man DOC "help2man, which writes the manual pages")
find_program(VENDRAKE_GZIP gzip REQUIRED)
set(package_files_dir ${CMAKE_BINARY_DIR}/package-files)

set(package_files)
if(VENDRAKE_HELP2MAN)
  set(vendrake_cli_summary "scale the vertex heights of terrain cliff models in bulk")
  set(vendrake_summary "window to scale the vertex heights of terrain cliff models")
  set(programs vendrake-cli)
  if(TARGET vendrake)
    list(APPEND programs vendrake)
  endif()
  foreach(program IN LISTS programs)
    string(REPLACE "-" "_" summary_variable "${program}_summary")
    set(page ${package_files_dir}/${program}.1.gz)
    # LC_ALL=C: help2man's own words, and the date, in English.
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${package_files_dir}
      COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${VENDRAKE_HELP2MAN} --no-info --no-discard-stderr
              "--name=${${summary_variable}}" --output=${package_files_dir}/${program}.1
              $<TARGET_FILE:${program}>
      COMMAND ${VENDRAKE_GZIP} -9nf ${package_files_dir}/${program}.1
      DEPENDS ${program}
      VERBATIM)
    list(APPEND package_files ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
  endforeach()
endif()

# A package whose version has no Debian revision is native: its changelog is
# changelog.gz.
set(changelog ${package_files_dir}/changelog.gz)
add_custom_command(
  OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${package_files_dir}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/debian/changelog ${package_files_dir}
  COMMAND ${VENDRAKE_GZIP} -9nf ${package_files_dir}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog
  VERBATIM)
list(APPEND package_files ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
install(FILES debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

add_custom_target(vendrake-package-files DEPENDS ${package_files})
