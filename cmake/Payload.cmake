# The payload: the package and the eight cabinets, found in a folder by their
# exact file names and embedded under the resource keys the program looks for.
# A missing file is left out with a warning; that is how a build without the
# package is made.

# The payload's file names and resource keys are the build profile's
# (PROFILE_PAYLOAD, cmake/Profile.cmake): the package, then the cabinets as
# the program's own table lists them (staging/cabinet_table.h).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${PROFILE_CABINET_TABLE}" "${PROFILE_SOURCE_DIR}/cmake/Profile.cmake")

# Writes a resource script for the files of `payload_dir` (may be empty) to
# `rc_file` and returns the embedded files in `out_files`.
function(write_payload_rc rc_file payload_dir out_files)
    set(lines "// Generated from the payload folder; do not edit.\n")
    set(files "")
    list(LENGTH PROFILE_PAYLOAD count)
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last} 3)
        math(EXPR t "${i} + 1")
        math(EXPR n "${i} + 2")
        list(GET PROFILE_PAYLOAD ${i} name)
        list(GET PROFILE_PAYLOAD ${t} type)
        list(GET PROFILE_PAYLOAD ${n} id)
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
