# Windows-level tests (GoogleTest built for mingw) and the tools the Wine
# tests run. Nothing here runs Wine: the tests are registered by the native
# build, which runs them through the Wine fixture.

# An installer without any payload: the absent-package case and the size check.
add_installer(installer_empty "" "${PROFILE_KIND}-empty")
# Around the large sample payload (about 72 MB of cabinets).
set(LARGE_PAYLOAD_DIR "" CACHE PATH "Folder holding the large sample payload")
if(NOT LARGE_PAYLOAD_DIR STREQUAL "")
    add_installer(installer_large "${LARGE_PAYLOAD_DIR}" "${PROFILE_KIND}-large")
endif()
# Around the sample payload less one cabinet.
set(PARTIAL_PAYLOAD_DIR "" CACHE PATH "Folder holding the sample payload without one cabinet")
if(NOT PARTIAL_PAYLOAD_DIR STREQUAL "")
    add_installer(installer_partial "${PARTIAL_PAYLOAD_DIR}" "${PROFILE_KIND}-partial")
endif()

# Around cabinets of several MB: all eight, and all but the seventh.
set(CABINET_PAYLOADS "" CACHE PATH "Folder of the generated cabinet payloads")
if(CABINET_PAYLOADS)
    add_installer(installer_cabs "${CABINET_PAYLOADS}/all" "${PROFILE_KIND}-cabs")
    add_installer(installer_no7 "${CABINET_PAYLOADS}/no7" "${PROFILE_KIND}-no7")
endif()

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(watch STATIC tests/tools/watch.cpp)
target_include_directories(watch PUBLIC ${CMAKE_SOURCE_DIR})
add_library(links STATIC tests/tools/links.cpp)
target_include_directories(links PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(runner tests/tools/runner.cpp)
target_link_libraries(runner PRIVATE watch)
target_link_options(runner PRIVATE -static -municode)

add_executable(fake_msiexec WIN32 tests/tools/fake_msiexec.cpp)
target_link_libraries(fake_msiexec PRIVATE bootstrap) # RunAndWait, for the pass-through
target_link_options(fake_msiexec PRIVATE -static)
set_target_properties(fake_msiexec PROPERTIES OUTPUT_NAME msiexec)

# Version-only stand-ins for msi.dll around the oldest accepted engine.
foreach(version 2.0.2599.65535 2.0.2600.0 3.1.4000.0 1.20.0.0)
    string(REPLACE "." "," rc_version "${version}")
    set(target "msi_${version}")
    string(REPLACE "." "_" target "${target}")
    add_library(${target} SHARED tests/tools/version_stub.c tests/tools/version_stub.rc)
    target_compile_definitions(${target} PRIVATE STUB_VERSION=${rc_version})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME "msi-${version}")
    target_link_options(${target} PRIVATE -static -s)
endforeach()

# A DLL planted beside a program under system DLLs' names: it leaves a
# marker file when loaded. The stand-ins for kernel32 of the hardening tests,
# with and without SetDefaultDllDirectories. A probe that loads shell32 the
# way the program did before and after hardening.
add_library(planted SHARED tests/tools/planted_dll.c)
set_target_properties(planted PROPERTIES PREFIX "")
target_link_options(planted PRIVATE -static -s)
foreach(variant full plain)
    add_library(standin_${variant} SHARED tests/tools/kernel_standin.c)
    set_target_properties(standin_${variant} PROPERTIES PREFIX "" OUTPUT_NAME "standin-${variant}")
    target_link_options(standin_${variant} PRIVATE -static -s)
endforeach()
target_compile_definitions(standin_full PRIVATE WITH_DEFAULT_DIRECTORIES)
add_executable(load_probe tests/tools/load_probe.cpp)
target_link_libraries(load_probe PRIVATE bootstrap)
target_link_options(load_probe PRIVATE -static -s)

# Resources for the extraction tests: 20,000 bytes, exactly one chunk, none.
string(REPEAT "0123456789abcdef" 1250 bytes20000)
string(REPEAT "0123456789abcdef" 512 bytes8192)
file(WRITE ${CMAKE_BINARY_DIR}/test-resources/bytes20000.bin "${bytes20000}")
file(WRITE ${CMAKE_BINARY_DIR}/test-resources/bytes8192.bin "${bytes8192}")
file(WRITE ${CMAKE_BINARY_DIR}/test-resources/empty.bin "")
foreach(id 107 108 109 110 111 112 113 114)
    string(REPEAT "MSCF cabinet ${id} " ${id} cabinet_bytes)
    file(WRITE ${CMAKE_BINARY_DIR}/test-resources/cab${id}.bin "${cabinet_bytes}")
endforeach()

include(cmake/WindowsTestList.cmake)
add_executable(windows_tests tests/win/main.cpp tests/win/helpers.cpp tests/win/imports.cpp ${WINDOWS_TEST_SOURCES}
    tests/win/test_resources.rc)
target_include_directories(windows_tests PRIVATE ${CMAKE_BINARY_DIR}/test-resources)
target_link_libraries(windows_tests PRIVATE bootstrap watch links gtest)
target_link_options(windows_tests PRIVATE -static)
# The same program under a second name, which the prefix reports as 5.2.
add_custom_command(TARGET windows_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:windows_tests> ${CMAKE_BINARY_DIR}/windows_tests52.exe
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:windows_tests> ${CMAKE_BINARY_DIR}/windows_tests51.exe)
include(cmake/WindowsBundle.cmake)
