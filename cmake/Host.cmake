# Native side: unit tests of the deciding logic with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Windows build and its Wine tests.
enable_testing()
find_package(GTest REQUIRED)

set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

# The logic reads the build profile's names from the generated header.
include(cmake/Profile.cmake)
set(VERSION "${PROFILE_DEFAULT_VERSION}")
set(PROFILE_DIR ${CMAKE_BINARY_DIR}/profile)
profile_setup(${PROFILE_DIR})

add_library(logic STATIC ${LOGIC_SOURCES})
target_include_directories(logic PUBLIC ${CMAKE_SOURCE_DIR} ${PROFILE_DIR})
target_compile_options(logic PUBLIC ${SANITIZE} -g -O1 -Wall -Wextra -Werror)
target_link_options(logic PUBLIC ${SANITIZE})
set_target_properties(logic PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)

add_executable(native_tests
    tests/native/text_test.cpp
    tests/native/options_test.cpp
    tests/native/command_test.cpp
    tests/native/staging_test.cpp
    tests/native/regstring_test.cpp
    tests/native/followup_test.cpp
    tests/native/log_test.cpp)
target_link_libraries(native_tests PRIVATE logic GTest::gtest GTest::gtest_main)
set_target_properties(native_tests PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)

include(GoogleTest)
gtest_discover_tests(native_tests TEST_PREFIX "native." DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")

# libFuzzer targets over the same logic, one per part that reads outside
# input: one per tests/fuzz/<target>_fuzz.cpp (the Makefile's `make fuzz`
# finds them the same way), each run over its corpus for a bounded number of
# inputs (FUZZ_RUNS). `make fuzz` runs them for long (tests/fuzz/long.sh).
find_program(CLANGXX clang++)
file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
set(FUZZ_TARGETS "")
foreach(source ${FUZZ_SOURCES})
    get_filename_component(name ${source} NAME)
    string(REGEX REPLACE "_fuzz\\.cpp$" "" name "${name}")
    list(APPEND FUZZ_TARGETS ${name})
endforeach()
if(CLANGXX)
    set(FUZZ_LOGIC ${LOGIC_SOURCES})
    list(TRANSFORM FUZZ_LOGIC PREPEND ${CMAKE_SOURCE_DIR}/)
    file(GLOB FUZZ_HEADERS ${CMAKE_SOURCE_DIR}/app/*.h ${CMAKE_SOURCE_DIR}/installer/*.h
         ${CMAKE_SOURCE_DIR}/staging/*.h ${CMAKE_SOURCE_DIR}/support/*.h ${CMAKE_SOURCE_DIR}/tests/fuzz/*.h
         ${PROFILE_DIR}/support/*.h)
    foreach(target ${FUZZ_TARGETS})
        set(source ${CMAKE_SOURCE_DIR}/tests/fuzz/${target}_fuzz.cpp)
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
        add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/fuzz/${target}_fuzz
            COMMAND ${CLANGXX} -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined
                    -fno-sanitize-recover=all -I${CMAKE_SOURCE_DIR} -I${PROFILE_DIR} ${FUZZ_LOGIC} ${source}
                    -o ${CMAKE_BINARY_DIR}/fuzz/${target}_fuzz
            DEPENDS ${FUZZ_LOGIC} ${source} ${FUZZ_HEADERS}
            COMMENT "Building the ${target} fuzzer")
        add_custom_target(${target}_fuzz ALL DEPENDS ${CMAKE_BINARY_DIR}/fuzz/${target}_fuzz)
        add_test(NAME fuzz.${target}
            COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run.sh ${CMAKE_BINARY_DIR}/fuzz/${target}_fuzz
                    ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${target} ${CMAKE_BINARY_DIR}/fuzz-scratch/${target})
        set_tests_properties(fuzz.${target} PROPERTIES TIMEOUT 120)
    endforeach()
else()
    message(WARNING "clang++ not found: the logic fuzzers are not built")
endif()

include(cmake/WineTests.cmake)
