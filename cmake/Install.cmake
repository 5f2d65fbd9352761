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
install(FILES packaging/${TARROWIN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/${TARROWIN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The manual page and the package's changelog, compressed as Debian keeps them (gzip -n: the
# same bytes on every build).
set(TARROWIN_MAN_GZ ${CMAKE_BINARY_DIR}/packaging/tarrowin.1.gz)
set(TARROWIN_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${TARROWIN_MAN_GZ} ${TARROWIN_CHANGELOG_GZ}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/tarrowin.1 > ${TARROWIN_MAN_GZ}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${TARROWIN_CHANGELOG_GZ}
    DEPENDS packaging/tarrowin.1 packaging/changelog
    COMMENT "Compressing the manual page and the changelog")
add_custom_target(tarrowin_docs ALL DEPENDS ${TARROWIN_MAN_GZ} ${TARROWIN_CHANGELOG_GZ})
install(FILES ${TARROWIN_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TARROWIN_CHANGELOG_GZ} packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarrowin)
