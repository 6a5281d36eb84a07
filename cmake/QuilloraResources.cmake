# Compiles ui/qml (QML, JavaScript, images), the player page template and the Roboto fonts into
# the program's resources.
# The fonts come from the system's fonts-roboto-unhinted package and are copied at build time.
set(QUILLORA_ROBOTO_DIR "/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF" CACHE PATH
    "Directory holding Roboto-Regular.ttf and Roboto-Bold.ttf")

function(quillora_add_resources target)
    set(qml_root ${PROJECT_SOURCE_DIR}/ui/qml)
    file(GLOB_RECURSE qml_files CONFIGURE_DEPENDS RELATIVE ${qml_root}
        ${qml_root}/*.qml ${qml_root}/*.js ${qml_root}/images/*.png)
    set(resource_files "")
    foreach(file IN LISTS qml_files)
        set_source_files_properties(${qml_root}/${file} PROPERTIES QT_RESOURCE_ALIAS ${file})
        list(APPEND resource_files ${qml_root}/${file})
    endforeach()

    # The template of the exported player page.
    set(player_root ${PROJECT_SOURCE_DIR}/presentation/player)
    file(GLOB player_files CONFIGURE_DEPENDS RELATIVE ${player_root} ${player_root}/*.html)
    foreach(file IN LISTS player_files)
        set_source_files_properties(${player_root}/${file} PROPERTIES
            QT_RESOURCE_ALIAS player/${file})
        list(APPEND resource_files ${player_root}/${file})
    endforeach()

    set(font_dir ${CMAKE_CURRENT_BINARY_DIR}/fonts)
    foreach(font Roboto-Regular.ttf Roboto-Bold.ttf)
        if(NOT EXISTS ${QUILLORA_ROBOTO_DIR}/${font})
            message(FATAL_ERROR "${font} not found in ${QUILLORA_ROBOTO_DIR} (install fonts-roboto-unhinted)")
        endif()
        configure_file(${QUILLORA_ROBOTO_DIR}/${font} ${font_dir}/${font} COPYONLY)
        set_source_files_properties(${font_dir}/${font} PROPERTIES QT_RESOURCE_ALIAS fonts/${font})
        list(APPEND resource_files ${font_dir}/${font})
    endforeach()

    qt_add_resources(${target} quillora_resources PREFIX "/" FILES ${resource_files})
endfunction()
