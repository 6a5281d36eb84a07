# Installed layout: the launcher and the settings reset tool at the top, the recorder in App/,
# so that the recorder keeps its Logs and Presentations beside the launcher.
include(GNUInstallDirs)
install(TARGETS QuilloraRecorder RUNTIME DESTINATION App)
install(TARGETS QuilloraSettingsReset RUNTIME DESTINATION .)
