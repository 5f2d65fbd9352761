# The program lives in lib/tarrowin/ with its Pictures and Tones beside it, since its own
# folder is where it finds its default files; bin/tarrowin links to it.
include(GNUInstallDirs)
set(TARROWIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/tarrowin)
install(TARGETS tarrowin RUNTIME DESTINATION ${TARROWIN_INSTALL_DIR})
install(DIRECTORY Pictures Tones DESTINATION ${TARROWIN_INSTALL_DIR})
install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${TARROWIN_INSTALL_DIR}/tarrowin
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarrowin\" SYMBOLIC)
")
install(FILES packaging/tarrowin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES forms/Tarrowin.ico DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps RENAME tarrowin.ico)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarrowin)
set(CPACK_PACKAGE_CONTACT "The Tarrowin authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Alternating bilateral visuals and tones for EMDR")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.4), qt6-qpa-plugins, libsdl2-mixer-2.0-0, fonts-liberation2")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
