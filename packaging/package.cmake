# Packages of the installed programs. `make dist` builds the Debian package
# from the release build with `cpack --preset deb`: vendrake, vendrake-cli,
# the desktop entry, the icon, the AppStream metadata, the manual pages, the
# copyright file and the changelog, under /usr.
set(CPACK_PACKAGE_NAME vendrake)
set(CPACK_PACKAGE_VENDOR "Vendrake")
set(CPACK_PACKAGE_CONTACT
    "Vendrake maintainers <maintainers@users.noreply.c-seed-ec2a5dfe.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Without this CPack falls back on a generic text of its own. The line breaks
# keep the control file's lines under 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Vendrake rescales terrain cliff models in bulk: every model of a source"
  "folder is written to a destination folder with the height of each vertex"
  "multiplied by a scale factor. The package holds the window, vendrake, and"
  "the console front end, vendrake-cli.")
set(CPACK_STRIP_FILES ON)

if(UNIX AND NOT APPLE)
  include(packaging/package_files.cmake)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # vendrake_<version>_<architecture>.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends comes from dpkg-shlibdeps, which reads the libraries (Qt 6, the
  # C++ run-time) the two programs are linked with.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A Wayland session without XWayland needs Qt's Wayland platform plugin.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS qt6-wayland)
endif()

include(CPack)
