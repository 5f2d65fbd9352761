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
