# The desktop's icon: the program's own icon as the PNG that icon themes hold, converted by
# the toolkit at build time.
add_executable(tarrowin_ico_to_png packaging/ico_to_png.cpp)
target_link_libraries(tarrowin_ico_to_png PRIVATE Qt6::Gui)
set_target_properties(tarrowin_ico_to_png PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
tarrowin_warnings(tarrowin_ico_to_png)
set(TARROWIN_ICON_PNG ${CMAKE_BINARY_DIR}/packaging/${TARROWIN_APP_ID}.png)
add_custom_command(OUTPUT ${TARROWIN_ICON_PNG}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:tarrowin_ico_to_png> ${CMAKE_SOURCE_DIR}/forms/Tarrowin.ico
            ${TARROWIN_ICON_PNG}
    DEPENDS tarrowin_ico_to_png ${CMAKE_SOURCE_DIR}/forms/Tarrowin.ico
    COMMENT "Converting the program's icon to PNG")
add_custom_target(tarrowin_icon ALL DEPENDS ${TARROWIN_ICON_PNG})
install(FILES ${TARROWIN_ICON_PNG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
