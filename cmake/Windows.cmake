# Windows side: the installer executable, and with WINDOWS_TESTS=ON the
# Windows-level tests and the small programs the Wine tests use.
enable_language(RC)
include(cmake/Profile.cmake)

# The version the build serves; every name the program and its payload use
# is derived from it (cmake/Profile.cmake), into a header and the manifest
# generated under PROFILE_DIR.
set(VERSION "${PROFILE_DEFAULT_VERSION}" CACHE STRING "Version of the kit: <major>.<minor>.<micro>_<update>")
set(PROFILE_DIR ${CMAKE_BINARY_DIR}/profile)
profile_setup(${PROFILE_DIR})
include(cmake/Payload.cmake)

set(PAYLOAD_DIR "" CACHE PATH "Folder holding the package and the cabinets to embed")
set(INSTALLER_NAME "${PROFILE_INSTALLER_NAME}") # the file name of the installer, without .exe
option(WINDOWS_TESTS "Build the Windows-level tests and test tools" OFF)

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)

# Lean and reproducible: no exceptions, no C++ run-time, mingw's own printf
# left out, no time stamp in the image. No -fdata-sections: with it, mingw's
# compiler stores zero-filled statics (the 3 KB of option buffers) as data in
# the file instead of leaving them to .bss.
set(PRODUCT_COMPILE_OPTIONS
    -Os -Wall -Wextra -Werror -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections)
set(PRODUCT_DEFINITIONS __USE_MINGW_ANSI_STDIO=0 WIN32_LEAN_AND_MEAN)
set(PRODUCT_LINK_OPTIONS -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp)

add_library(bootstrap STATIC
    ${LOGIC_SOURCES}
    support/sysload.cpp
    support/ending.cpp
    support/log.cpp
    staging/staging.cpp
    staging/chain.cpp
    staging/cabinet_writer.cpp
    installer/engine.cpp
    support/probes.cpp
    installer/afterinstall.cpp)
target_include_directories(bootstrap PUBLIC ${CMAKE_SOURCE_DIR} ${PROFILE_DIR})
target_compile_options(bootstrap PRIVATE ${PRODUCT_COMPILE_OPTIONS})
target_compile_definitions(bootstrap PUBLIC ${PRODUCT_DEFINITIONS})

# The icon, drawn at build time from resources/make_icon.py.
set(ICON_DIR ${CMAKE_BINARY_DIR}/icon)
add_custom_command(OUTPUT ${ICON_DIR}/orva.ico
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ICON_DIR}
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/resources/make_icon.py ${ICON_DIR}/orva.ico
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_icon.py
    COMMENT "Drawing the icon")
add_custom_target(icon DEPENDS ${ICON_DIR}/orva.ico)

# add_installer(<target> <payload dir> <output name>): the executable around
# the payload found in <payload dir> ("" for none).
function(add_installer target payload_dir output_name)
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_payload.rc")
    write_payload_rc("${rc}" "${payload_dir}" payload_files)
    set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${payload_files}")
    if(NOT payload_dir STREQUAL "" AND IS_DIRECTORY "${payload_dir}")
        # A file added to or removed from the folder reconfigures the build.
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${payload_dir}")
    endif()
    add_executable(${target} WIN32 app/main.cpp resources/wrapper.rc)
    if(payload_files)
        target_sources(${target} PRIVATE "${rc}") # windres refuses a script without resources
    endif()
    target_compile_options(${target} PRIVATE ${PRODUCT_COMPILE_OPTIONS})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/resources ${ICON_DIR} ${PROFILE_DIR})
    add_dependencies(${target} icon)
    target_link_libraries(${target} PRIVATE bootstrap)
    target_link_options(${target} PRIVATE ${PRODUCT_LINK_OPTIONS})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "${output_name}")
    # The payload is mapped from the file, not read into memory, only when
    # the resource section starts on a page of the file.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/align_resource_section.py $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()

set_source_files_properties(resources/wrapper.rc PROPERTIES
    OBJECT_DEPENDS "${PROFILE_DIR}/wrapper.manifest;${ICON_DIR}/orva.ico")

add_installer(installer "${PAYLOAD_DIR}" "${INSTALLER_NAME}")

if(WINDOWS_TESTS)
    include(cmake/WindowsTests.cmake)
endif()
