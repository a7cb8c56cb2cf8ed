# The Windows test bundle: one folder (and a zip of it) with everything a run
# on a Windows machine needs: the test programs, the installers around the
# test payloads, the stand-in engine, the sample kit, the end-to-end driver
# with its case files, and run-tests.cmd. Built with the Windows-level tests.

add_executable(driver tests/driver/driver.cpp tests/driver/cases.cpp tests/driver/settings.cpp tests/driver/win32.cpp)
target_include_directories(driver PRIVATE ${CMAKE_SOURCE_DIR} ${PROFILE_DIR})
target_link_libraries(driver PRIVATE bootstrap watch links shell32 ole32) # bootstrap: the cabinet table and its names
target_link_options(driver PRIVATE -static -municode)
# The installer's file name, as the build names it.
target_compile_definitions(driver PRIVATE BUNDLE_PRODUCT="$<TARGET_FILE_NAME:installer>")

set(BUNDLE ${CMAKE_BINARY_DIR}/windows-tests)
file(GLOB BUNDLE_CASES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/driver/cases/*.txt)
set(BUNDLE_PROGRAMS driver runner windows_tests fake_msiexec load_probe planted standin_full standin_plain
    msi_2_0_2599_65535 msi_2_0_2600_0 msi_3_1_4000_0 msi_1_20_0_0)
set(BUNDLE_INSTALLERS installer installer_empty)
foreach(target installer_partial installer_cabs installer_no7)
    if(TARGET ${target})
        list(APPEND BUNDLE_INSTALLERS ${target})
    endif()
endforeach()

set(copy_programs "")
foreach(target ${BUNDLE_PROGRAMS})
    if(NOT target STREQUAL "fake_msiexec")
        list(APPEND copy_programs COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${BUNDLE}/bin/)
    endif()
endforeach()
set(copy_installers "")
foreach(target ${BUNDLE_INSTALLERS})
    list(APPEND copy_installers COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${BUNDLE}/installers/)
endforeach()
# The payloads the installers carry, for comparing what they stage.
# The runtime package the sample kit ships, for the reinstall case.
set(copy_payloads COMMAND ${CMAKE_COMMAND} -E copy_directory ${PAYLOAD_DIR} ${BUNDLE}/payloads/sample
    COMMAND ${CMAKE_COMMAND} -E copy ${PAYLOAD_DIR}.work/files/hux.msi ${BUNDLE}/payloads/runtime/hux.msi)
if(CABINET_PAYLOADS)
    list(APPEND copy_payloads
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${CABINET_PAYLOADS}/all ${BUNDLE}/payloads/cabs-all
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${CABINET_PAYLOADS}/no7 ${BUNDLE}/payloads/cabs-no7)
endif()

add_custom_target(windows_bundle ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${BUNDLE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${BUNDLE}/bin ${BUNDLE}/engine ${BUNDLE}/installers ${BUNDLE}/cases ${BUNDLE}/payloads/runtime
    ${copy_programs}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:fake_msiexec> ${BUNDLE}/engine/
    # The Windows-level tests run the stand-in from their own folder.
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:fake_msiexec> ${BUNDLE}/bin/
    ${copy_installers}
    ${copy_payloads}
    COMMAND ${CMAKE_COMMAND} -E copy ${BUNDLE_CASES} ${BUNDLE}/cases/
    # What the driver asks the Linux side for under Wine (links, small disks).
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/tests/driver/wine-hook.sh ${BUNDLE}/bin/
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/tests/bundle/run-tests.cmd
            ${CMAKE_SOURCE_DIR}/tests/bundle/README.txt ${BUNDLE}/
    DEPENDS ${BUNDLE_PROGRAMS} ${BUNDLE_INSTALLERS} ${BUNDLE_CASES} ${CMAKE_SOURCE_DIR}/tests/driver/wine-hook.sh
            ${CMAKE_SOURCE_DIR}/tests/bundle/run-tests.cmd ${CMAKE_SOURCE_DIR}/tests/bundle/README.txt
    COMMENT "Assembling the Windows test bundle in ${BUNDLE}"
    VERBATIM)

# The zip of the bundle, for `make windows-tests`; not part of every build.
add_custom_target(windows_bundle_zip
    COMMAND ${CMAKE_COMMAND} -E rm -f ${CMAKE_BINARY_DIR}/windows-tests.zip
    COMMAND zip -q -r -X ${CMAKE_BINARY_DIR}/windows-tests.zip windows-tests
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS windows_bundle
    COMMENT "Zipping the Windows test bundle"
    VERBATIM)
