# What the Debian packages carry beside the programs: the manual pages, made
# from the programs' own --help by help2man so that they never drift from it,
# with the examples of docs/cli-examples.txt, which the user guide shows too;
# and in /usr/share/doc/<package> the machine-readable copyright file and the
# changelog. The manual pages and the changelog are compressed as Debian
# wants them (gzip -9, without a time stamp) by the target
# vendrake-package-files, which `make dist` builds; they are installed only
# when it has been built.
include(GNUInstallDirs)

find_program(VENDRAKE_HELP2MAN help2man DOC "help2man, which writes the manual pages")
find_program(VENDRAKE_GZIP gzip REQUIRED)
set(package_files_dir ${CMAKE_BINARY_DIR}/package-files)

# Each program with its install component and Debian package.
set(vendrake_cli_component cli)
set(vendrake_component window)
set(vendrake_cli_package vendrake-cli)
set(vendrake_package vendrake)

set(package_files)
if(VENDRAKE_HELP2MAN)
  set(vendrake_cli_summary "scale the vertex heights of terrain cliff models in bulk")
  set(vendrake_summary "window to scale the vertex heights of terrain cliff models")
  set(vendrake_cli_examples ${PROJECT_SOURCE_DIR}/docs/cli-examples.txt)
  set(vendrake_examples "")
  set(programs vendrake-cli)
  if(TARGET vendrake)
    list(APPEND programs vendrake)
  endif()
  foreach(program IN LISTS programs)
    string(REPLACE "-" "_" variable_prefix "${program}")
    set(page ${package_files_dir}/${program}.1.gz)
    set(see_also ${PROJECT_SOURCE_DIR}/packaging/${program}.h2m)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${package_files_dir}
      COMMAND ${PROJECT_SOURCE_DIR}/packaging/make-man-page.sh $<TARGET_FILE:${program}>
              "${${variable_prefix}_summary}" ${page} "${${variable_prefix}_examples}" ${see_also}
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/make-man-page.sh ${see_also}
              ${${variable_prefix}_examples}
      VERBATIM)
    list(APPEND package_files ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT ${${variable_prefix}_component} OPTIONAL)
  endforeach()
endif()

# The changelog is signed by the packages' maintainer (packaging/package.cmake).
# A package whose version has no Debian revision is native: its changelog is
# changelog.gz.
configure_file(debian/changelog.in ${package_files_dir}/changelog @ONLY)
set(changelog ${package_files_dir}/changelog.gz)
add_custom_command(
  OUTPUT ${changelog}
  COMMAND ${VENDRAKE_GZIP} -9nkf ${package_files_dir}/changelog
  DEPENDS ${package_files_dir}/changelog
  VERBATIM)
list(APPEND package_files ${changelog})
foreach(program IN ITEMS vendrake-cli vendrake)
  string(REPLACE "-" "_" variable_prefix "${program}")
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${${variable_prefix}_package})
  install(FILES ${changelog} DESTINATION ${doc_dir} COMPONENT ${${variable_prefix}_component} OPTIONAL)
  install(FILES debian/copyright DESTINATION ${doc_dir} COMPONENT ${${variable_prefix}_component})
endforeach()

add_custom_target(vendrake-package-files DEPENDS ${package_files})
