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
    tests/native/staging_test.cpp)
target_link_libraries(native_tests PRIVATE logic GTest::gtest GTest::gtest_main)
set_target_properties(native_tests PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)

include(GoogleTest)
gtest_discover_tests(native_tests TEST_PREFIX "native." DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")

include(cmake/WineTests.cmake OPTIONAL)
