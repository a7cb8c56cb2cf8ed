# Native side: unit tests of the deciding logic with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Windows build and its Wine tests.
enable_testing()
find_package(GTest REQUIRED)

set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(logic STATIC ${LOGIC_SOURCES})
target_include_directories(logic PUBLIC ${CMAKE_SOURCE_DIR})
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

# A libFuzzer target over the same logic, run for a bounded number of inputs.
find_program(CLANGXX clang++)
if(CLANGXX)
    set(FUZZ_SOURCES ${LOGIC_SOURCES} tests/fuzz/logic_fuzz.cpp)
    list(TRANSFORM FUZZ_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/logic_fuzz
        COMMAND ${CLANGXX} -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined
                -fno-sanitize-recover=all -I${CMAKE_SOURCE_DIR} ${FUZZ_SOURCES}
                -o ${CMAKE_BINARY_DIR}/logic_fuzz
        DEPENDS ${FUZZ_SOURCES} ${CMAKE_SOURCE_DIR}/app/options.h ${CMAKE_SOURCE_DIR}/installer/command.h
                ${CMAKE_SOURCE_DIR}/staging/layout.h ${CMAKE_SOURCE_DIR}/support/text.h
                ${CMAKE_SOURCE_DIR}/installer/followup.h ${CMAKE_SOURCE_DIR}/support/regstring.h
                ${CMAKE_SOURCE_DIR}/support/logtext.h
        COMMENT "Building the logic fuzzer")
    add_custom_target(logic_fuzz ALL DEPENDS ${CMAKE_BINARY_DIR}/logic_fuzz)
    add_test(NAME fuzz.options_and_command
        COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run.sh ${CMAKE_BINARY_DIR}/logic_fuzz ${CMAKE_BINARY_DIR}/fuzz-corpus)
    set_tests_properties(fuzz.options_and_command PROPERTIES TIMEOUT 300)
else()
    message(WARNING "clang++ not found: the logic fuzzer is not built")
endif()

include(cmake/WineTests.cmake)
