# Packages made by CPack from the install rules: a .deb on Linux, a .zip of the program folder
# for Windows. `cmake --workflow --preset package-deb` (or package-windows) configures, builds
# the programs and packs them.

# The core-only build installs nothing to pack.
if(NOT PAVRO_PLATFORM MATCHES "^(x11|win32)$")
    return()
endif()

set(CPACK_PACKAGE_NAME pavro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive the mouse pointer with the arrow keys and Enter")
set(PAVRO_PACKAGE_MAINTAINER "Pavro maintainers <maintainers@users.noreply.c-seed-dedd7b3f.example>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${PAVRO_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

if(PAVRO_PLATFORM STREQUAL "x11")
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # The libraries the programs link, as the system's dpkg-shlibdeps finds them (Qt, Xlib,
    # XTest, XInput, the C++ runtime): computed from the binaries, never listed by hand.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Desktops bring a notification area; under a bare window manager a panel shows the icon.
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "trayer | stalonetray")
    # The long description under the summary line, which CPack puts first itself (and indents
    # every line of this text by one blank, as Debian's control file wants).
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "While pointer control is on, the arrow keys move the mouse pointer and Enter
is the left mouse button, whichever application has the focus; every other
key works as usual. Pavro lives as a tray icon; starting it a second time
switches pointer control in the running copy. Sweepra deletes its stored
settings.")
elseif(PAVRO_PLATFORM STREQUAL "win32")
    # One folder, Pavro-<version>-windows-x64, holding the two programs and README.txt.
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "Pavro-${PROJECT_VERSION}-windows-x64")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()

include(CPack)
