# Installing and the Debian package. `cmake --install` puts the programs (their
# own rules sit beside their targets), the menu entry and the icon under the
# prefix; `cpack -G DEB` (scripts/package) turns the same install into
# virelan-launcher_<version>_<arch>.deb for /usr.

# The icon the menu entry names (Icon=virelan-launcher), at the sizes the
# freedesktop icon theme looks in. Both are cut from launcher/artwork/background.png
# (the title and the scene, padded square) with ImageMagick, N being 128 or 48:
#   convert background.png -crop 330x300+75+0 +repage -gravity north -background black
#     -extent 330x330 -resize NxN -strip virelan-launcher[-48].png
install(FILES packaging/virelan-launcher.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES packaging/virelan-launcher-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME virelan-launcher.png)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME virelan-launcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Virelan Launcher team")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Updates the Virelan game client and starts it")
# The long description, one line per line of the control file (under 80
# columns); an empty line separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION
    "The launcher of Virelan's Linux desktop client. A player starts it instead
of the game: it keeps the client's executables in ~/.Virelan up to date from
the game's update server, shows its progress in a small splash window and then
starts the newest client build that did not just fail to start.

For game admins the package also holds virelan-make-list, which publishes a
directory of client builds as an update list, and virelan-update-server, a
small static-file server for development and demos.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Virelan Launcher team")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies come from the libraries the programs really link
# (dpkg-shlibdeps, package dpkg-dev), not from a hand-kept list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The update server's address is compiled in, so a package of a test or debug
# build would ship a launcher that talks to loopback or runs slowly. cpack
# reads this file before it builds anything and refuses such a tree.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/virelan_cpack_checks.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
     "set(virelan_build_type \"${CMAKE_BUILD_TYPE}\")\n"
     "set(virelan_update_host \"${VIRELAN_UPDATE_HOST}\")\n"
     "set(virelan_sanitize \"${VIRELAN_SANITIZE}\")\n"
     [=[
if(NOT virelan_build_type STREQUAL "Release")
  message(FATAL_ERROR "A package is built from a Release configuration, not "
                      "'${virelan_build_type}' (scripts/package makes one)")
endif()
if(virelan_sanitize)
  message(FATAL_ERROR "A package is not built with VIRELAN_SANITIZE=${virelan_sanitize}")
endif()
# scripts/check-package installs a package for its own loopback server on a
# clean root and says so with VIRELAN_PACKAGE_FOR_LOOPBACK=1.
if(virelan_update_host MATCHES "^(127\\.|localhost$|0\\.0\\.0\\.0$)"
   AND NOT "$ENV{VIRELAN_PACKAGE_FOR_LOOPBACK}" STREQUAL "1")
  message(FATAL_ERROR "This build fetches its updates from ${virelan_update_host}, a "
                      "loopback address: configure VIRELAN_UPDATE_HOST for a package")
endif()
]=])

include(CPack)
