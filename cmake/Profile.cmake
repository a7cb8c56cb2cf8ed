# The build profile: the one product and configuration a build serves, and
# the rules that derive every name from its version. This file is the only
# place that holds them; the build generates the program's header and the
# manifest from it, and scripts ask it for the names.
#
# In a build (include(cmake/Profile.cmake)):
#   profile_version_error(<version> <out>)  "" or the rule <version> breaks
#   profile_derive(<version>)               sets the PROFILE_* variables
#   profile_setup(<dir>)                    checks the variable VERSION (the
#                                           build stops at a broken rule),
#                                           derives, and writes the program's
#                                           header <dir>/support/profile.h and
#                                           the manifest <dir>/wrapper.manifest
# As a script:
#   cmake [-DVERSION=<version>] -P cmake/Profile.cmake
#   PROFILE_VERSION_INPUT=<version> cmake -P cmake/Profile.cmake
#   prints the profile of <version> (without it, of the default version) as
#   shell assignments, PROFILE_<NAME>='<value>', one a line; for a version
#   that breaks a rule, one line on stderr saying which, and exit status 1.
#   cmake -D drops blanks at the end of a value; the environment variable
#   hands the version over exactly as given, which is how scripts ask.
if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.20)
endif()

# The constants.
set(PROFILE_KIND "pmx")                     # in the kit folder's and the package's names
set(PROFILE_KIT_SUFFIX "_x64")              # ends the kit folder's name
set(PROFILE_VENDOR "Tovimark")              # the vendor key: HKLM\Software\<vendor>
set(PROFILE_PRODUCT "Orva Development Kit") # the kit key's product name
set(PROFILE_DEFAULT_VERSION "4.2.0_17")
set(PROFILE_PACKAGE_RESOURCE_TYPE "ORVA_INSTALLER")
set(PROFILE_PACKAGE_RESOURCE_ID 101)
set(PROFILE_VERSION_SHAPE "<major>.<minor>.<micro>_<update>")
# The largest number a part of the manifest's four-part version holds.
set(PROFILE_PART_MAXIMUM 65535)

get_filename_component(PROFILE_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
# The program's cabinet table, which the cabinet names come from.
set(PROFILE_CABINET_TABLE "${PROFILE_SOURCE_DIR}/staging/cabinet_table.h")

# Sets <out> to "" when <version> is a version of the kit, else to one line
# saying which rule it breaks. The value is echoed only when it holds nothing
# but digits and separators.
function(profile_version_error version out)
    set(shape "${PROFILE_VERSION_SHAPE}")
    set(error "")
    if(version STREQUAL "")
        set(error "VERSION is empty: give ${shape}, for instance ${PROFILE_DEFAULT_VERSION}")
    elseif(NOT version MATCHES "^[0-9._]+$")
        string(REGEX MATCH "[^0-9._]" bad "${version}")
        if(bad STREQUAL " ")
            set(what "a space")
        elseif(bad STREQUAL "\n")
            set(what "a line break")
        elseif(bad MATCHES "^[!-~]$")
            set(what "'${bad}'")
        else()
            string(HEX "${bad}" code)
            set(what "the byte 0x${code}")
        endif()
        set(error "VERSION holds ${what}: a version is ${shape}, digits and those separators only")
    elseif(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)_([0-9]+)$")
        set(error "VERSION \"${version}\" is not ${shape}: four numbers, separated by '.', '.' and '_' in that order")
    else()
        set(parts "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}")
        foreach(name major minor micro update)
            list(POP_FRONT parts part)
            string(LENGTH "${part}" length)
            if(part MATCHES "^0[0-9]")
                # The manifest's version reads 07 as 7: two versions would
                # carry one manifest version but name other files and keys.
                set(error "VERSION \"${version}\": the ${name} number ${part} has a leading zero; write it without")
            elseif(length GREATER 5 OR part GREATER PROFILE_PART_MAXIMUM)
                set(error "VERSION \"${version}\": the ${name} number ${part} is above ${PROFILE_PART_MAXIMUM}, the largest a part of the manifest's version holds")
            endif()
            if(NOT error STREQUAL "")
                break()
            endif()
        endforeach()
    endif()
    set(${out} "${error}" PARENT_SCOPE)
endfunction()

# The cabinets for the four version parts, in the table's order: their file
# names in <names>, and the list "<file name>;<resource type>;<resource id>;..."
# in <rows>.
function(profile_cabinet_rows major minor micro update names rows)
    file(STRINGS "${PROFILE_CABINET_TABLE}" lines REGEX "^CABINET_ROW\\(")
    set(table "")
    set(files "")
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "^CABINET_ROW\\(\"([A-Z0-9_]+)\", ([0-9]+), \"([a-z]+)%s%s%s%s([a-z0-9]*)\"\\)")
            message(FATAL_ERROR "staging/cabinet_table.h: cannot read the row: ${line}")
        endif()
        set(file "${CMAKE_MATCH_3}${major}${minor}${micro}${update}${CMAKE_MATCH_4}.cab")
        list(APPEND files "${file}")
        list(APPEND table "${file}" "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}")
    endforeach()
    set(${names} "${files}" PARENT_SCOPE)
    set(${rows} "${table}" PARENT_SCOPE)
endfunction()

# Every name of <version>, which must have passed profile_version_error, as
# PROFILE_* variables in the caller's scope.
macro(profile_derive version)
    set(PROFILE_VERSION "${version}")
    string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)_([0-9]+)$" _profile_match "${version}")
    set(PROFILE_VERSION_MAJOR "${CMAKE_MATCH_1}")
    set(PROFILE_VERSION_MINOR "${CMAKE_MATCH_2}")
    set(PROFILE_VERSION_MICRO "${CMAKE_MATCH_3}")
    set(PROFILE_VERSION_UPDATE "${CMAKE_MATCH_4}")
    set(PROFILE_KIT_FOLDER "${PROFILE_KIND}${PROFILE_VERSION}${PROFILE_KIT_SUFFIX}")
    set(PROFILE_PACKAGE_FILE "${PROFILE_KIND}${PROFILE_VERSION}.msi")
    set(PROFILE_KIT_KEY "SOFTWARE\\${PROFILE_VENDOR}\\${PROFILE_PRODUCT}\\${PROFILE_VERSION}")
    set(PROFILE_MANIFEST_VERSION
        "${PROFILE_VERSION_MAJOR}.${PROFILE_VERSION_MINOR}.${PROFILE_VERSION_MICRO}.${PROFILE_VERSION_UPDATE}")
    set(PROFILE_ASSEMBLY_NAME "${PROFILE_KIND}${PROFILE_VERSION_MAJOR}.windows-amd64")
    set(PROFILE_DESCRIPTION "${PROFILE_PRODUCT} ${PROFILE_VERSION} installer")
    set(PROFILE_INSTALLER_NAME "${PROFILE_KIND}${PROFILE_VERSION}-windows-x64")
    profile_cabinet_rows("${PROFILE_VERSION_MAJOR}" "${PROFILE_VERSION_MINOR}" "${PROFILE_VERSION_MICRO}"
                         "${PROFILE_VERSION_UPDATE}" PROFILE_CABINETS _profile_rows)
    # The payload: the package, then the cabinets; "<file>;<type>;<id>" each.
    set(PROFILE_PAYLOAD "${PROFILE_PACKAGE_FILE}" "${PROFILE_PACKAGE_RESOURCE_TYPE}" "${PROFILE_PACKAGE_RESOURCE_ID}"
        ${_profile_rows})
endmacro()

# Checks the variable VERSION, derives the profile from it and generates from
# it, into <dir>, the program's header (support/profile.h) and the manifest
# (wrapper.manifest), each rewritten only when it changes. VERSION is read as
# a variable, never put into the macro's text, so that no value of it is
# evaluated as CMake code.
macro(profile_setup dir)
    profile_version_error("${VERSION}" _profile_error)
    if(NOT _profile_error STREQUAL "")
        message(FATAL_ERROR "${_profile_error}")
    endif()
    profile_derive("${VERSION}")
    string(REPLACE "\\" "\\\\" PROFILE_KIT_KEY_C "${PROFILE_KIT_KEY}") # as a C string
    configure_file("${PROFILE_SOURCE_DIR}/support/profile.h.in" "${dir}/support/profile.h" @ONLY)
    configure_file("${PROFILE_SOURCE_DIR}/resources/wrapper.manifest.in" "${dir}/wrapper.manifest" @ONLY)
endmacro()

# As a script: the profile as shell assignments.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(DEFINED ENV{PROFILE_VERSION_INPUT})
        set(VERSION "$ENV{PROFILE_VERSION_INPUT}")
    elseif(NOT DEFINED VERSION)
        set(VERSION "${PROFILE_DEFAULT_VERSION}")
    endif()
    profile_version_error("${VERSION}" error)
    if(NOT error STREQUAL "")
        message(NOTICE "${error}") # the one line; the exit status comes with the next
        message(FATAL_ERROR "invalid VERSION")
    endif()
    profile_derive("${VERSION}")
    list(JOIN PROFILE_CABINETS " " PROFILE_CABINETS)
    set(rows ${PROFILE_PAYLOAD})
    set(entries "")
    list(LENGTH rows count)
    while(count GREATER 0)
        list(POP_FRONT rows file type id)
        list(APPEND entries "${file}:${type}:${id}")
        math(EXPR count "${count} - 3")
    endwhile()
    list(JOIN entries " " PROFILE_PAYLOAD)
    set(text "")
    foreach(name KIND KIT_SUFFIX VENDOR PRODUCT DEFAULT_VERSION PACKAGE_RESOURCE_TYPE PACKAGE_RESOURCE_ID
                 VERSION VERSION_MAJOR VERSION_MINOR VERSION_MICRO VERSION_UPDATE KIT_FOLDER PACKAGE_FILE KIT_KEY
                 MANIFEST_VERSION ASSEMBLY_NAME DESCRIPTION INSTALLER_NAME CABINETS PAYLOAD)
        string(APPEND text "PROFILE_${name}='${PROFILE_${name}}'\n")
    endforeach()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E echo_append "${text}")
endif()
