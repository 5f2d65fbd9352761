# The program lives in lib/tarrowin/ with its Pictures and Tones beside it, since its own
# folder is where it finds its default files; bin/tarrowin links to it. The folder is fixed
# rather than the system's library folder, which on Debian would be lib/<architecture>/.
include(GNUInstallDirs)
set(TARROWIN_INSTALL_DIR lib/tarrowin)
install(TARGETS tarrowin RUNTIME DESTINATION ${TARROWIN_INSTALL_DIR})
install(DIRECTORY Pictures Tones DESTINATION ${TARROWIN_INSTALL_DIR})
install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${TARROWIN_INSTALL_DIR}/tarrowin
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarrowin\" SYMBOLIC)
")
install(FILES packaging/tarrowin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The desktop's icon: the program's own icon as the PNG that icon themes hold, converted by
# the toolkit at build time.
add_executable(tarrowin_ico_to_png packaging/ico_to_png.cpp)
target_link_libraries(tarrowin_ico_to_png PRIVATE Qt6::Gui)
set_target_properties(tarrowin_ico_to_png PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
tarrowin_warnings(tarrowin_ico_to_png)
set(TARROWIN_ICON_PNG ${CMAKE_BINARY_DIR}/packaging/tarrowin.png)
add_custom_command(OUTPUT ${TARROWIN_ICON_PNG}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:tarrowin_ico_to_png> ${CMAKE_SOURCE_DIR}/forms/Tarrowin.ico
            ${TARROWIN_ICON_PNG}
    DEPENDS tarrowin_ico_to_png ${CMAKE_SOURCE_DIR}/forms/Tarrowin.ico
    COMMENT "Converting the program's icon to PNG")
add_custom_target(tarrowin_icon ALL DEPENDS ${TARROWIN_ICON_PNG})
install(FILES ${TARROWIN_ICON_PNG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

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
        "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6t64 (>= 6.4) | libqt6core6 (>= 6.4), libsdl2-2.0-0, libsdl2-mixer-2.0-0, libstdc++6, libc6, qt6-qpa-plugins, qt6-wayland, fonts-liberation2")
endif()
include(CPack)
