# A test-only program that arms the crash handler and faults on purpose; the crash tests run
# it as a child process. It lives outside the globbed test folders and is never installed.
add_executable(crash_test_program
               ${PROJECT_SOURCE_DIR}/tests/crash/crash_test_program.cpp
               ${PROJECT_SOURCE_DIR}/tests/crash/crash_test_program_${SRCTALLY_PLATFORM}.cpp)
target_link_libraries(crash_test_program PRIVATE srctally_lib srctally_warnings)
add_dependencies(srctally_tests crash_test_program)
target_compile_definitions(srctally_tests
                           PRIVATE SRCTALLY_CRASH_TEST_EXE="$<TARGET_FILE:crash_test_program>")
# The end-to-end tests build the expected banner from the program's version numbers.
target_include_directories(srctally_tests PRIVATE ${PROJECT_BINARY_DIR}/generated)
