# Installed layout: the launcher and the settings reset tool at the top, the recorder in App/,
# so that the recorder keeps its Logs and Presentations beside the launcher.
include(GNUInstallDirs)
install(TARGETS QuilloraRecorder RUNTIME DESTINATION App)
install(TARGETS quillora_camera quillora_video LIBRARY DESTINATION App RUNTIME DESTINATION App)
install(TARGETS QuilloraSettingsReset RUNTIME DESTINATION .)
# The default search path of Qt's set-up ($ORIGIN/../lib) would reach outside the installation
# for the programs at the top; they need nothing but system libraries.
set_target_properties(QuilloraSettingsReset PROPERTIES INSTALL_RPATH "")
if(TARGET QuilloraRecorderLauncher)
    install(TARGETS QuilloraRecorderLauncher RUNTIME DESTINATION .)
endif()

# A desktop entry and an icon, so that the folder can be added to a Linux desktop's menu. The
# launcher looks for App/ in its working directory, so the entry starts it in the installation
# directory; both paths are only known at install time (cmake --install --prefix).
if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/dist/linux/quillora-recorder.svg
        DESTINATION share/icons/hicolor/scalable/apps)
    install(CODE "
        set(quillora_desktop_template [[${PROJECT_SOURCE_DIR}/dist/linux/quillora-recorder.desktop.in]])
        set(quillora_desktop_file [[${PROJECT_BINARY_DIR}/dist/quillora-recorder.desktop]])")
    install(CODE [[
        set(prefix "${CMAKE_INSTALL_PREFIX}")
        # Exec holds a quoted argument: inside the quotes ", `, $ and \ are escaped with a
        # backslash and % is doubled; then, as in every string value, \ itself is escaped.
        set(exec "${prefix}/QuilloraRecorderLauncher")
        string(REPLACE "\\" "\\\\" exec "${exec}")
        string(REPLACE "\"" "\\\"" exec "${exec}")
        string(REPLACE "`" "\\`" exec "${exec}")
        string(REPLACE "$" "\\$" exec "${exec}")
        string(REPLACE "%" "%%" exec "${exec}")
        string(REPLACE "\\" "\\\\" exec "${exec}")
        set(QUILLORA_DESKTOP_EXEC "\"${exec}\"")
        string(REPLACE "\\" "\\\\" QUILLORA_DESKTOP_PATH "${prefix}")
        string(REPLACE "\\" "\\\\" QUILLORA_DESKTOP_ICON
            "${prefix}/share/icons/hicolor/scalable/apps/quillora-recorder.svg")
        configure_file("${quillora_desktop_template}" "${quillora_desktop_file}" @ONLY)
        file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
            FILES "${quillora_desktop_file}")
    ]])
endif()
