# The payload: the package and the eight cabinets, found in a folder by their
# exact file names and embedded under the resource keys the program looks for.
# A missing file is left out with a warning; that is how a build without the
# package is made.

# The package, then the cabinets as the program's own table lists them
# (staging/cabinet_table.h), with the version components of the build profile
# (support/profile.h) in place of each %s of a name format.
function(read_profile_value name out)
    file(STRINGS "${CMAKE_SOURCE_DIR}/support/profile.h" line REGEX "^#define ${name} \"")
    string(REGEX REPLACE "^#define ${name} \"([^\"]*)\".*" "\\1" value "${line}")
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(read_payload_table out)
    foreach(part KIND VERSION VERSION_MAJOR VERSION_MINOR VERSION_MICRO VERSION_UPDATE)
        read_profile_value(PROFILE_${part} ${part})
    endforeach()
    set(table "${KIND}${VERSION}.msi" ORVA_INSTALLER 101)
    file(STRINGS "${CMAKE_SOURCE_DIR}/staging/cabinet_table.h" rows REGEX "^CABINET_ROW\\(")
    foreach(row IN LISTS rows)
        if(NOT row MATCHES "^CABINET_ROW\\(\"([A-Z0-9_]+)\", ([0-9]+), \"([a-z]+)%s%s%s%s([a-z0-9]*)\"\\)")
            message(FATAL_ERROR "staging/cabinet_table.h: cannot read the row: ${row}")
        endif()
        list(APPEND table "${CMAKE_MATCH_3}${VERSION_MAJOR}${VERSION_MINOR}${VERSION_MICRO}${VERSION_UPDATE}${CMAKE_MATCH_4}.cab"
                          "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}")
    endforeach()
    set(${out} "${table}" PARENT_SCOPE)
endfunction()

read_payload_table(PAYLOAD_RESOURCES)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${CMAKE_SOURCE_DIR}/staging/cabinet_table.h" "${CMAKE_SOURCE_DIR}/support/profile.h")

# Writes a resource script for the files of `payload_dir` (may be empty) to
# `rc_file` and returns the embedded files in `out_files`.
function(write_payload_rc rc_file payload_dir out_files)
    set(lines "// Generated from the payload folder; do not edit.\n")
    set(files "")
    list(LENGTH PAYLOAD_RESOURCES count)
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last} 3)
        math(EXPR t "${i} + 1")
        math(EXPR n "${i} + 2")
        list(GET PAYLOAD_RESOURCES ${i} name)
        list(GET PAYLOAD_RESOURCES ${t} type)
        list(GET PAYLOAD_RESOURCES ${n} id)
        set(path "${payload_dir}/${name}")
        if(payload_dir STREQUAL "" OR NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
            if(NOT payload_dir STREQUAL "")
                message(NOTICE "warning: payload: ${name} not found in ${payload_dir}; left out")
            endif()
            continue()
        endif()
        if(path MATCHES "[\"\\\\]")
            message(FATAL_ERROR "payload: the path ${path} holds a quote or backslash, which a resource script cannot name")
        endif()
        string(APPEND lines "${id} ${type} \"${path}\"\n")
        list(APPEND files "${path}")
    endforeach()
    # Rewritten only when it changes, so that an unchanged payload is not
    # embedded again; a changed file is picked up through its dependency.
    file(WRITE "${rc_file}.new" "LANGUAGE 9, 1 // English (United States)\n${lines}")
    file(COPY_FILE "${rc_file}.new" "${rc_file}" ONLY_IF_DIFFERENT)
    set(${out_files} "${files}" PARENT_SCOPE)
endfunction()
