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

# A layer of the system: a static library of every source below its folders
# (and of SOURCES, but not of the files and folders in EXCLUDE).
# Its folders are seen by other code only through an include root of the
# layer's own (links in the build folder), which reaches the layers that
# link it. So an include of a layer that is not among DEPENDS is not found.
# Layers are linked whole: the embedded resources and the static objects of
# every source are part of the library, whether or not something calls them.
function(harbend_add_layer name)
    cmake_parse_arguments(L "" "" "FOLDERS;SOURCES;EXCLUDE;DEPENDS;LIBS" ${ARGN})
    set(root ${CMAKE_BINARY_DIR}/layers/${name})
    file(MAKE_DIRECTORY ${root})
    foreach(dir ${L_FOLDERS})
        get_filename_component(parent ${root}/${dir} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
    endforeach()
    harbend_collect_sources(sources ${L_FOLDERS})
    foreach(path ${L_EXCLUDE})
        list(FILTER sources EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/${path}(/|$)")
    endforeach()
    list(APPEND sources ${L_SOURCES})
    set(compiled ${sources})
    list(FILTER compiled INCLUDE REGEX "\\.(cpp|qrc|qm)$")
    set(deps)
    foreach(dep ${L_DEPENDS})
        get_target_property(type ${dep} TYPE)
        if(type STREQUAL "STATIC_LIBRARY")
            list(APPEND deps "$<LINK_LIBRARY:WHOLE_ARCHIVE,${dep}>")
        else()
            list(APPEND deps ${dep})
        endif()
    endforeach()
    if(compiled)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC ${root})
        target_link_libraries(${name} PUBLIC ${deps} ${L_LIBS})
        # The resource collections in the classic data layout (format 1, no file times).
        set_target_properties(${name} PROPERTIES AUTORCC_OPTIONS "--format-version;1")
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${root})
        target_link_libraries(${name} INTERFACE ${deps} ${L_LIBS})
    endif()
endfunction()
