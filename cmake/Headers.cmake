# vaskor_headers(<target> <folder>...)
#
# A target's headers: each folder is reached as "<folder>/File.h" through an
# include root of the target's own (a directory of links in the build tree),
# which every target that links this one also gets. So a folder's headers are
# at hand only where its target is linked: no global root lets one folder reach
# into another unseen.
function(vaskor_headers target)
    set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
    foreach(folder IN LISTS ARGN)
        get_filename_component(parent ${root}/${folder} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()
