# Packages of the installed programs. `make dist` builds two Debian packages
# from the release build with `cpack --preset deb`, one per install component:
#   vendrake-cli  the console front end and its manual page, without Qt, for
#                 servers and scripts;
#   vendrake      the window, its desktop entry, icon, AppStream metadata and
#                 manual page; it depends on vendrake-cli of the same version.
# Each carries the copyright file and the changelog in its own
# /usr/share/doc/<package>, as Debian asks of every package.

# Who maintains the packages: the Maintainer field of both and the signature
# of the changelog, set here and nowhere else. A packager who builds them
# under their own name sets VENDRAKE_MAINTAINER in the environment or the
# CMake cache; the default is the project's own address.
set(VENDRAKE_MAINTAINER "Vendrake maintainers <maintainers@vendrake.org>"
    CACHE STRING "Maintainer of the packages, as \"Name <address>\"")
# The environment's value holds for this configuration only, as a variable
# that hides the cache's.
if(NOT "$ENV{VENDRAKE_MAINTAINER}" STREQUAL "")
  set(VENDRAKE_MAINTAINER "$ENV{VENDRAKE_MAINTAINER}")
endif()
if(NOT VENDRAKE_MAINTAINER MATCHES "^[^<>]+ <[^<> ]+@[^<> ]+>$")
  message(FATAL_ERROR "VENDRAKE_MAINTAINER is \"${VENDRAKE_MAINTAINER}\", not \"Name <address>\"")
endif()

set(CPACK_PACKAGE_NAME vendrake)
set(CPACK_PACKAGE_VENDOR "Vendrake")
set(CPACK_PACKAGE_CONTACT "${VENDRAKE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Without these CPack falls back on a generic text of its own. The line breaks
# keep the control file's lines under 80 columns.
string(JOIN "\n" CPACK_DEBIAN_CLI_DESCRIPTION
  "Vendrake rescales terrain cliff models in bulk: every model of a source"
  "folder is written to a destination folder with the height of each vertex"
  "multiplied by a scale factor. This package holds the console front end,"
  "vendrake-cli, for terminals, scripts and machines without a display.")
string(JOIN "\n" CPACK_DEBIAN_WINDOW_DESCRIPTION
  "Vendrake rescales terrain cliff models in bulk: every model of a source"
  "folder is written to a destination folder with the height of each vertex"
  "multiplied by a scale factor. This package holds the window, vendrake;"
  "the console front end, vendrake-cli, comes with its own package.")
set(CPACK_STRIP_FILES ON)

if(UNIX AND NOT APPLE)
  include(packaging/package_files.cmake)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # Only the two components become packages: an install rule without a
  # component would otherwise make a third.
  set(CPACK_COMPONENTS_ALL cli window)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_CLI_PACKAGE_NAME vendrake-cli)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME vendrake)
  # <package>_<version>_<architecture>.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The window runs the same engine as the console front end, so the two are
  # installed at the same version: Depends: vendrake-cli (= <version>).
  set(CPACK_COMPONENT_WINDOW_DEPENDS cli)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  # The rest of Depends comes from dpkg-shlibdeps, which reads the libraries
  # each package's program is linked with: the C++ run-time for both, Qt 6
  # for the window only.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A Wayland session without XWayland needs Qt's Wayland platform plugin.
  set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS qt6-wayland)
endif()

include(CPack)
