# kalvora_room(<target> [PUBLIC_LIBS ...] [PRIVATE_LIBS ...]): the static library of one room, made of
# every source file in the room's folder, so adding a class to a room needs no edit here.
function(kalvora_room target)
    cmake_parse_arguments(R "" "" "PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC kalvora_settings ${R_PUBLIC_LIBS} PRIVATE ${R_PRIVATE_LIBS})
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt (tests, benchmarks, tools).
function(kalvora_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(child ${children})
        if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
