# The Debian package, written by CPack from the install rules (cmake/Install.cmake and the
# icon of cmake/Icon.cmake): `cpack` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarrowin)
set(CPACK_PACKAGE_VENDOR "The Tarrowin authors")
set(CPACK_PACKAGE_CONTACT "The Tarrowin authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Alternating bilateral visuals and tones for EMDR")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The libraries the program links come from dpkg-shlibdeps (dpkg-dev) where it is installed,
# with file(1), which CPack needs to find the programs to look at; the screen plugins and
# the font are loaded at run time and never show up there, so they are named here. The
# toolkit's Wayland platform (qt6-wayland) is a dependency: in a Wayland session the program
# runs natively, and without it the toolkit falls back to XWayland with a complaint on the
# terminal.
find_program(TARROWIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(TARROWIN_FILE file)
if(TARROWIN_DPKG_SHLIBDEPS AND TARROWIN_FILE)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland, fonts-liberation2")
else()
    # Without it, a list that holds on Debian 12 and 13 alike: the core library took the
    # name libqt6core6t64 in Debian 13.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6dbus6 (>= 6.4), libqt6core6t64 (>= 6.4) | libqt6core6 (>= 6.4), libxss1, libx11-6, libsdl2-2.0-0, libsdl2-mixer-2.0-0, libstdc++6, libc6, qt6-qpa-plugins, qt6-wayland, fonts-liberation2")
endif()
include(CPack)
