# Fails when an #include "..." of the program's own code points up or sideways
# in the layers:
#
#   base -> protocol -> net -> recorder -> the programs (window, zv-transfer)
#
# A folder may include its own headers and those of the folders listed for it
# below, nothing else; the simulator stands in for the recorder and speaks
# only the protocol. Run as
#   cmake -DROOT=<source tree> -P checkincludes.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
    message(FATAL_ERROR "checkincludes: give -DROOT=<source tree>")
endif()

set(allowed_base base)
set(allowed_protocol base protocol)
set(allowed_net base protocol net)
set(allowed_recorder base protocol net recorder)
set(allowed_ui base recorder ui)
set(allowed_zvtransfer base recorder)
set(allowed_sim base protocol sim)

# The folder a file belongs to, by its place in the tree.
function(layer_of path out)
    file(RELATIVE_PATH rel "${ROOT}" "${path}")
    if(rel MATCHES "^src/([^/]+)/")
        set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    elseif(rel MATCHES "^sim/")
        set(${out} sim PARENT_SCOPE)
    elseif(rel MATCHES "^tools/zvtransfer/")
        set(${out} zvtransfer PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

file(GLOB_RECURSE sources LIST_DIRECTORIES false
    "${ROOT}/src/*.h" "${ROOT}/src/*.cpp"
    "${ROOT}/sim/*.h" "${ROOT}/sim/*.cpp"
    "${ROOT}/tools/zvtransfer/*.h" "${ROOT}/tools/zvtransfer/*.cpp")

set(checked 0)
set(offences "")
foreach(source IN LISTS sources)
    layer_of("${source}" layer)
    if(NOT DEFINED allowed_${layer})
        list(APPEND offences "${source}: folder '${layer}' is not one of the layers")
        continue()
    endif()
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    get_filename_component(folder "${source}" DIRECTORY)
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
        math(EXPR checked "${checked} + 1")
        if(included MATCHES "^([^/]+)/")
            set(target "${CMAKE_MATCH_1}")
            if(NOT target IN_LIST allowed_${layer})
                list(APPEND offences "${source}: ${layer} includes \"${included}\"")
            endif()
        elseif(NOT EXISTS "${folder}/${included}" AND NOT included STREQUAL "zvversion.h"
               AND NOT (layer STREQUAL "ui" AND included MATCHES "^ui_"))
            # Only a file of the same folder, or a header the build generates
            # (the version, a form), goes without its folder name.
            list(APPEND offences "${source}: \"${included}\" names no folder")
        endif()
    endforeach()
endforeach()

list(LENGTH sources files)
if(offences)
    list(LENGTH offences count)
    list(JOIN offences "\n  " text)
    message(FATAL_ERROR "Includes against the layers (${count}):\n  ${text}")
endif()
message(STATUS "checkincludes: ${checked} includes in ${files} files point down the layers")
