# Collects the sources, forms and resource files below the given folders.
function(harbend_collect_sources out)
    set(result)
    foreach(dir ${ARGN})
        file(GLOB_RECURSE found CONFIGURE_DEPENDS
            ${CMAKE_SOURCE_DIR}/${dir}/*.cpp
            ${CMAKE_SOURCE_DIR}/${dir}/*.h
            ${CMAKE_SOURCE_DIR}/${dir}/*.ui
            ${CMAKE_SOURCE_DIR}/${dir}/*.qrc)
        list(APPEND result ${found})
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# Adds every sub-folder of the current folder that has a CMakeLists.txt.
function(harbend_add_subfolders)
    file(GLOB lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
    foreach(list ${lists})
        get_filename_component(dir ${list} DIRECTORY)
        add_subdirectory(${dir})
    endforeach()
endfunction()
