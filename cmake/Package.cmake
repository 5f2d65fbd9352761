# The Debian package, written by CPack from the install rules (cmake/Install.cmake and the
# icon of cmake/Icon.cmake): `cpack` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarrowin)
set(CPACK_PACKAGE_VENDOR "The Tarrowin authors")
set(CPACK_PACKAGE_CONTACT "The Tarrowin authors <tarrowin@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "alternating bilateral visuals and tones for EMDR")
# The package's long description, below the summary: lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION "A small picture travels back and forth across a full-screen window
(horizontally, vertically or along one of two diagonals) at one of nine
speeds; at each turn a short tone can sound, the left tone at the start end
and the right tone at the far end. The practitioner sets speed, pattern,
tones, passes, picture and tone pair on a settings window and steers a
running stimulation by keys and buttons.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The package's dependencies, in one place. The libraries the program links, as Debian 12
# and 13 name them (the core library and ALSA's took a t64 name in Debian 13); CPack writes
# the list into CPackConfig.cmake, where the package's test holds it against what
# dpkg-shlibdeps finds.
set(CPACK_TARROWIN_LINKED_DEPENDS
    "libqt6widgets6 (>= 6.4)" "libqt6gui6 (>= 6.4)"
    "libqt6core6t64 (>= 6.4) | libqt6core6 (>= 6.4)"
    "libpulse0" "libsndfile1" "libsdl2-2.0-0" "libsdl2-mixer-2.0-0"
    "libasound2t64 | libasound2" "libqt6dbus6 (>= 6.4)" "libxss1" "libx11-6" "libstdc++6"
    "libgcc-s1" "libc6")
# What the program loads at run time, which never shows up among the linked libraries: the
# screen plugins, the font, and the toolkit's Wayland platform (in a Wayland session the
# program runs natively; without it the toolkit falls back to XWayland with a complaint on
# the terminal).
set(TARROWIN_LOADED_DEPENDS qt6-qpa-plugins qt6-wayland fonts-liberation2)
# Where dpkg-shlibdeps (dpkg-dev) is installed, with file(1), which CPack needs to find the
# programs to look at, the linked libraries come from it, with the versions of the release
# the package is built on; without it, from the list above.
find_program(TARROWIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(TARROWIN_FILE file)
if(TARROWIN_DPKG_SHLIBDEPS AND TARROWIN_FILE)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    list(JOIN TARROWIN_LOADED_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
else()
    list(JOIN CPACK_TARROWIN_LINKED_DEPENDS ", " linked)
    list(JOIN TARROWIN_LOADED_DEPENDS ", " loaded)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${linked}, ${loaded}")
endif()
include(CPack)
