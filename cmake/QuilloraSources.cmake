# Collects the sources of the program library from the component folders.
# Platform layers are named after their platform (FooX11.cpp, FooLinux.cpp, FooWindows.cpp)
# and only the current platform's are compiled.
function(quillora_collect_sources out_var)
    set(folders app presentation sources pipeline recording web settings ui)
    set(result "")
    foreach(folder IN LISTS folders)
        file(GLOB_RECURSE found CONFIGURE_DEPENDS
            ${PROJECT_SOURCE_DIR}/${folder}/*.cpp
            ${PROJECT_SOURCE_DIR}/${folder}/*.h)
        list(APPEND result ${found})
    endforeach()
    # Entry points and the identity library are built separately.
    list(FILTER result EXCLUDE REGEX "/main\\.cpp$")
    # Run-time modules are libraries of their own.
    list(FILTER result EXCLUDE REGEX "_module/")
    list(FILTER result EXCLUDE REGEX "/ApplicationIdentity\\.(h|cpp)$")
    if(WIN32)
        list(FILTER result EXCLUDE REGEX "(Linux|X11|MacOS)[^/]*$")
    elseif(APPLE)
        list(FILTER result EXCLUDE REGEX "(Linux|X11|Windows)[^/]*$")
    else()
        list(FILTER result EXCLUDE REGEX "(Windows|MacOS)[^/]*$")
    endif()
    set(${out_var} ${result} PARENT_SCOPE)
endfunction()

# The application identity is shared by the recorder and the settings reset tool, which links
# nothing but Qt Core.
add_library(quillora_identity STATIC ${PROJECT_SOURCE_DIR}/app/ApplicationIdentity.cpp
    ${PROJECT_SOURCE_DIR}/app/ApplicationIdentity.h)
target_include_directories(quillora_identity PUBLIC ${PROJECT_SOURCE_DIR}/app)
target_link_libraries(quillora_identity PUBLIC Qt6::Core)

