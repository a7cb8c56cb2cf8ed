# The Windows build as a sub-build, and every test that runs its output under
# Wine. No test runs Wine at configure or build time: tests are listed from
# the sources, and all of them share one test bed (tests/wine/fixture.sh),
# set up by the first test and torn down by the last, even after failures.
include(ExternalProject)

set(SAMPLE_PAYLOAD ${CMAKE_BINARY_DIR}/sample-payload)
set(WIN_BUILD ${CMAKE_BINARY_DIR}/win)
set(WINE_STATE ${CMAKE_BINARY_DIR}/wine-state)
set(WINE_RUN ${CMAKE_SOURCE_DIR}/tests/wine/run.sh ${WINE_STATE})
set(WINE_TEST_TIMEOUT 180) # a hang guard: a box nobody closes must not stall the run

set(SAMPLE_PAYLOAD_LARGE ${CMAKE_BINARY_DIR}/sample-payload-large)
set(SAMPLE_SOURCES sample/build-payload.sh sample/make-content.py sample/kit.wxs sample/hux.wxs
    sample/customactions.c sample/unpack.c sample/orvareg.c sample/NOTICE.txt sample/runtime.txt
    tools/msistore.c)
add_custom_command(OUTPUT ${SAMPLE_PAYLOAD}/${PROFILE_PACKAGE_FILE}
    COMMAND ${CMAKE_SOURCE_DIR}/sample/build-payload.sh ${SAMPLE_PAYLOAD} small
    DEPENDS ${SAMPLE_SOURCES}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Building the sample payload")
add_custom_target(sample_payload ALL DEPENDS ${SAMPLE_PAYLOAD}/${PROFILE_PACKAGE_FILE})
# The same kit with about 72 MB of incompressible archives: a few seconds to
# build, and only rebuilt when the sample changes.
add_custom_command(OUTPUT ${SAMPLE_PAYLOAD_LARGE}/${PROFILE_PACKAGE_FILE}
    COMMAND ${CMAKE_SOURCE_DIR}/sample/build-payload.sh ${SAMPLE_PAYLOAD_LARGE} large
    DEPENDS ${SAMPLE_SOURCES}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Building the large sample payload")
add_custom_target(sample_payload_large ALL DEPENDS ${SAMPLE_PAYLOAD_LARGE}/${PROFILE_PACKAGE_FILE})
# The sample without one of its cabinets (the sixth, the notice's), for an
# installer that lacks it.
set(SAMPLE_PAYLOAD_PARTIAL ${CMAKE_BINARY_DIR}/sample-payload-partial)
list(GET PROFILE_CABINETS 5 LEFT_OUT_CABINET)
add_custom_command(OUTPUT ${SAMPLE_PAYLOAD_PARTIAL}/${PROFILE_PACKAGE_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${SAMPLE_PAYLOAD_PARTIAL}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${SAMPLE_PAYLOAD} ${SAMPLE_PAYLOAD_PARTIAL}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${SAMPLE_PAYLOAD_PARTIAL}/${LEFT_OUT_CABINET}
    DEPENDS ${SAMPLE_PAYLOAD}/${PROFILE_PACKAGE_FILE}
    COMMENT "Leaving a cabinet out of the sample payload")
add_custom_target(sample_payload_partial ALL DEPENDS ${SAMPLE_PAYLOAD_PARTIAL}/${PROFILE_PACKAGE_FILE})

# Payloads with cabinets of several MB for the cabinet tests: all eight, and
# all but the seventh.
set(CABINET_PAYLOADS ${CMAKE_BINARY_DIR}/cabinet-payloads)
list(GET PROFILE_CABINETS 0 FIRST_CABINET)
add_custom_command(OUTPUT ${CABINET_PAYLOADS}/all/${FIRST_CABINET}
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/e2e/make_payloads.py ${SAMPLE_PAYLOAD} ${CABINET_PAYLOADS}
    DEPENDS tests/e2e/make_payloads.py ${SAMPLE_PAYLOAD}/${PROFILE_PACKAGE_FILE}
            cmake/Profile.cmake staging/cabinet_table.h tools/buildprofile.py
    COMMENT "Generating the cabinet payloads")
add_custom_target(cabinet_payloads ALL DEPENDS ${CABINET_PAYLOADS}/all/${FIRST_CABINET})

ExternalProject_Add(windows
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${WIN_BUILD}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DWINDOWS_TESTS=ON
        -DPAYLOAD_DIR=${SAMPLE_PAYLOAD}
        -DLARGE_PAYLOAD_DIR=${SAMPLE_PAYLOAD_LARGE}
        -DPARTIAL_PAYLOAD_DIR=${SAMPLE_PAYLOAD_PARTIAL}
        -DCABINET_PAYLOADS=${CABINET_PAYLOADS}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    DEPENDS sample_payload sample_payload_large sample_payload_partial cabinet_payloads)

# The installer built for other versions (tests/versions.txt), as
# `make installer VERSION=<v>` builds it, each around the sample renamed for
# its version: the names, the kit key and the manifest follow the version.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS tests/versions.txt)
file(STRINGS tests/versions.txt VERSION_VARIANTS REGEX "^[0-9]")

# The installer built for <version> by the sub-build below.
function(version_build_installer version out)
    profile_derive(${version}) # in this function's scope: the default's names stay
    set(${out} ${CMAKE_BINARY_DIR}/win-${version}/${PROFILE_INSTALLER_NAME}.exe PARENT_SCOPE)
endfunction()

foreach(version ${VERSION_VARIANTS})
    set(payload ${CMAKE_BINARY_DIR}/version-payloads/${version})
    add_custom_command(OUTPUT ${payload}/.made
        COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/e2e/make_version_payload.py ${SAMPLE_PAYLOAD} ${version} ${payload}
        DEPENDS tests/e2e/make_version_payload.py tests/e2e/make_payloads.py ${SAMPLE_PAYLOAD}/${PROFILE_PACKAGE_FILE}
                cmake/Profile.cmake staging/cabinet_table.h tools/buildprofile.py
        COMMENT "Renaming the sample payload for ${version}")
    add_custom_target(version_payload_${version} ALL DEPENDS ${payload}/.made)
    ExternalProject_Add(windows_${version}
        SOURCE_DIR ${CMAKE_SOURCE_DIR}
        BINARY_DIR ${CMAKE_BINARY_DIR}/win-${version}
        CMAKE_ARGS
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
            -DCMAKE_BUILD_TYPE=Release
            -DVERSION=${version}
            -DPAYLOAD_DIR=${payload}
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        DEPENDS version_payload_${version})
endforeach()

# The executable image: imports, manifest, size, reproducibility.
add_test(NAME image.imports_only_system_dlls
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py imports ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe)
add_test(NAME image.manifest_requires_administrator_without_supported_os
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py manifest ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe)
add_test(NAME image.resources_under_the_expected_keys
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py resources ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe ${SAMPLE_PAYLOAD})
add_test(NAME image.cabinets_under_the_expected_keys
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py resources ${WIN_BUILD}/${PROFILE_KIND}-cabs.exe ${CABINET_PAYLOADS}/all)
add_test(NAME image.payload_starts_on_a_page_of_the_file
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py layout ${WIN_BUILD}/${PROFILE_KIND}-cabs.exe)
add_test(NAME image.message_4_in_ten_languages
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py messages ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe)
add_test(NAME image.icon_group_115_of_twelve_images
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py icon ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe)
add_test(NAME image.lean_without_payload
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py lean ${WIN_BUILD}/${PROFILE_KIND}-empty.exe)
add_test(NAME image.two_builds_are_identical
    COMMAND ${CMAKE_SOURCE_DIR}/tests/image/reproducible.sh ${CMAKE_SOURCE_DIR} ${SAMPLE_PAYLOAD}
            ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe ${CMAKE_BINARY_DIR}/reproducible)
add_test(NAME image.make_installer_around_a_payload_folder
    COMMAND ${CMAKE_SOURCE_DIR}/tests/image/installer_target.sh ${CMAKE_SOURCE_DIR} ${SAMPLE_PAYLOAD}
            ${CMAKE_BINARY_DIR}/installer-target)
add_test(NAME image.payload_check_reports_broken_payloads
    COMMAND ${CMAKE_SOURCE_DIR}/tests/image/payload_check.sh ${CMAKE_SOURCE_DIR} ${SAMPLE_PAYLOAD}
            ${CMAKE_BINARY_DIR}/payload-check)
add_test(NAME image.signed_build_verifies_and_keeps_the_image
    COMMAND ${CMAKE_SOURCE_DIR}/tests/image/signed_build.sh ${CMAKE_SOURCE_DIR} ${SAMPLE_PAYLOAD}
            ${CMAKE_BINARY_DIR}/signed-build)
# Each build carries its version in the manifest, and the assembly name
# follows the major version (check_image.py holds what each should say).
add_test(NAME image.manifest_follows_the_version.default
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py identity
            ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe ${PROFILE_VERSION})
foreach(version ${VERSION_VARIANTS})
    version_build_installer(${version} exe)
    add_test(NAME image.manifest_follows_the_version.${version}
        COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/image/check_image.py identity ${exe} ${version})
endforeach()
add_test(NAME image.malformed_versions_are_refused_before_anything_is_built
    COMMAND ${CMAKE_SOURCE_DIR}/tests/image/version_setting.sh ${CMAKE_SOURCE_DIR} ${SAMPLE_PAYLOAD}
            ${WIN_BUILD}/${PROFILE_INSTALLER_NAME}.exe ${CMAKE_BINARY_DIR}/version-setting)
add_test(NAME image.inspect_and_extract_read_the_installer
    COMMAND ${CMAKE_SOURCE_DIR}/tests/image/read_and_unpack.sh ${CMAKE_SOURCE_DIR} ${SAMPLE_PAYLOAD}
            ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/inspect-extract)
# Each builds whole installers from scratch: on a busy machine one took 284 s.
# The timeout is only a hang guard.
set_tests_properties(image.two_builds_are_identical image.make_installer_around_a_payload_folder
    image.payload_check_reports_broken_payloads image.signed_build_verifies_and_keeps_the_image
    image.malformed_versions_are_refused_before_anything_is_built image.inspect_and_extract_read_the_installer
    PROPERTIES TIMEOUT 900)

# The test bed.
add_test(NAME wine.setup COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/fixture.sh setup ${WINE_STATE} ${WIN_BUILD})
add_test(NAME wine.cleanup COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/fixture.sh cleanup ${WINE_STATE})
# The order of a run without timings (a clean clone), by COST: the bundle's
# run in its own prefix and the test bed's setup first, then the tests under
# the prefix lock, which run one after another and so make the longest chain;
# the rest fill the other slots around them.
set(LOCKED_TEST_COST 100)
set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 COST 200)
set_tests_properties(wine.cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# Tests that change state the whole prefix shares (InstallerLocation, the
# staging folder, system32) hold this lock.
set(PREFIX_LOCK prefix_state)

function(add_wine_test name)
    add_test(NAME ${name} COMMAND ${ARGN})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${WINE_TEST_TIMEOUT})
endfunction()

# Windows-level GoogleTest cases, one CTest test each, listed from the sources
# (cmake/WindowsTestList.cmake), the suites there that need it holding the
# prefix lock. The OnVersion52 suite runs in the copy of the program that
# the prefix reports as version 5.2, OnVersion51 in the one it reports as 5.1.
include(cmake/WindowsTestList.cmake)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${WINDOWS_TEST_SOURCES})
foreach(source ${WINDOWS_TEST_SOURCES})
    file(STRINGS ${source} lines REGEX "^TEST(_F)?\\(")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^TEST(_F)?\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)\\).*" "\\2.\\3" test "${line}")
        string(REGEX REPLACE "\\..*" "" suite "${test}")
        set(program windows_tests.exe)
        if(suite STREQUAL "OnVersion52")
            set(program windows_tests52.exe)
        elseif(suite STREQUAL "OnVersion51")
            set(program windows_tests51.exe)
        endif()
        add_wine_test(windows.${test} ${WINE_RUN} ${WIN_BUILD}/${program} --gtest_filter=${test})
        if(suite IN_LIST WINDOWS_TEST_PREFIX_LOCK_SUITES)
            set_tests_properties(windows.${test} PROPERTIES RESOURCE_LOCK ${PREFIX_LOCK} COST ${LOCKED_TEST_COST})
        endif()
    endforeach()
endforeach()

# The driver's cases (tests/driver/cases), one CTest test each, named
# "case.<case file>: <case>" and listed from the case files. Each is run by
# the driver of the Windows test bundle, on the bundle the build assembles,
# in the shared test bed; every case stages into the prefix's one user
# folder, so all hold the lock. The driver ends a case that hangs at its own
# guard, 30 s before the TIMEOUT (which CTest enforces with SIGKILL), and
# puts the prefix back first; a case skipped here (Windows only) shows as
# skipped.
set(DRIVER_BUNDLE ${WIN_BUILD}/windows-tests)
set(DRIVER_CASE_TIMEOUT ${WINE_TEST_TIMEOUT})
math(EXPR DRIVER_CASE_GUARD "${DRIVER_CASE_TIMEOUT} - 30")
file(GLOB DRIVER_CASE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/driver/cases/*.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DRIVER_CASE_FILES})
foreach(case_file ${DRIVER_CASE_FILES})
    get_filename_component(stem ${case_file} NAME_WE)
    # A ";" in a line splits it here, so every piece must be a whole case line.
    file(STRINGS ${case_file} case_lines REGEX "^case " ENCODING UTF-8)
    foreach(line IN LISTS case_lines)
        if(NOT line MATCHES "^case (.+)$" OR line MATCHES "[\"\\\\]" OR line MATCHES "[][]")
            message(FATAL_ERROR "${case_file}: a case name CTest cannot carry in a test name "
                                "(no ; \" \\ [ or ]): ${line}")
        endif()
        string(REGEX REPLACE "^case " "" name "${line}")
        add_wine_test("case.${stem}: ${name}" ${WINE_RUN} ${DRIVER_BUNDLE}/bin/driver.exe
            --case "${name}" --guard ${DRIVER_CASE_GUARD} ${DRIVER_BUNDLE} - ${DRIVER_BUNDLE}/cases/${stem}.txt)
        set_tests_properties("case.${stem}: ${name}" PROPERTIES
            RESOURCE_LOCK ${PREFIX_LOCK} TIMEOUT ${DRIVER_CASE_TIMEOUT} SKIP_RETURN_CODE 4 COST ${LOCKED_TEST_COST})
    endforeach()
endforeach()

# End-to-end cases that stay in bash (each says why), listed from
# tests/e2e/cases.sh and version_cases.sh. All of them stage into
# the one user folder of the prefix, so they hold the lock.
set(E2E_CASE_FILES tests/e2e/cases.sh tests/e2e/version_cases.sh)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${E2E_CASE_FILES})
set(lines "")
foreach(case_file ${E2E_CASE_FILES})
    file(STRINGS ${case_file} case_lines REGEX "^case_[a-z0-9_]+\\(\\)")
    list(APPEND lines ${case_lines})
endforeach()
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^case_([a-z0-9_]+)\\(\\).*" "\\1" case "${line}")
    add_wine_test(e2e.${case} ${CMAKE_SOURCE_DIR}/tests/e2e/e2e.sh ${WINE_STATE} ${case})
    set_tests_properties(e2e.${case} PROPERTIES RESOURCE_LOCK ${PREFIX_LOCK} COST ${LOCKED_TEST_COST})
endforeach()
# Each case ends itself 30 s before its TIMEOUT, which CTest enforces with
# SIGKILL: e2e.sh then still puts back what the case changed in the prefix.
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^case_([a-z0-9_]+)\\(\\).*" "\\1" case "${line}")
    get_test_property(e2e.${case} TIMEOUT timeout)
    math(EXPR guard "${timeout} - 30")
    set_property(TEST e2e.${case} APPEND PROPERTY ENVIRONMENT E2E_GUARD_SECONDS=${guard})
endforeach()

# The Windows test bundle as a user on Windows runs it: run-tests.cmd in a
# fresh prefix of its own (not the shared test bed). What only this run
# shows is run-tests.cmd and the driver as a user starts them, the results
# file's format, and that the prefix's settings are as before; the cases and
# the Windows-level tests themselves run test by test above, so it runs one
# short case file and no Windows-level test (tests/bundle/under_wine.sh).
add_test(NAME bundle.runs_under_wine
    COMMAND ${CMAKE_SOURCE_DIR}/tests/bundle/under_wine.sh ${WIN_BUILD}/windows-tests ${CMAKE_BINARY_DIR}/bundle-state)
set_tests_properties(bundle.runs_under_wine PROPERTIES TIMEOUT 600 COST 300)
