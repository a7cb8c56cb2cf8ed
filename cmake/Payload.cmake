# The payload: the package and the eight cabinets, found in a folder by their
# exact file names and embedded under the resource keys the program looks for.
# A missing file is left out with a warning; that is how a build without the
# package is made.

set(PAYLOAD_RESOURCES
    # file name             type              id
    "pmx4.2.0_17.msi"       ORVA_INSTALLER    101
    "sd420170.cab"          ORVA_CAB6         107
    "ss420170.cab"          ORVA_CAB9         110
    "st420170.cab"          ORVA_CAB10        111
    "sj420170.cab"          ORVA_CAB7         108
    "sp420170.cab"          ORVA_CAB8         109
    "sz420170.cab"          ORVA_CAB11        112
    "sb420170.cab"          ORVA_CAB12        113
    "sr420170.cab"          ORVA_CAB13        114)

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
