# End to end through the shell host, in-process: the built Pathlift.dll registered, created from its registered
# class, handed the shell's data object for files made by the test, its menu entry invoked and its dialog worked,
# checked by the exact clipboard text and the stored options. The DLL is found from the test's own location.
add_executable(end_to_end_tests ${CMAKE_CURRENT_SOURCE_DIR}/win/end_to_end_test.cpp)
target_include_directories(end_to_end_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(end_to_end_tests PRIVATE pathlift_shell_host GTest::gtest_main)
target_compile_definitions(end_to_end_tests PRIVATE
    PATHLIFT_DLL_FROM_TEST_DIR="$<PATH:RELATIVE_PATH,$<TARGET_FILE:Pathlift>,$<TARGET_FILE_DIR:end_to_end_tests>>")
add_dependencies(end_to_end_tests Pathlift)
add_test(NAME end_to_end_tests COMMAND end_to_end_tests)
# The options key and the clipboard are one per prefix, and each case registers the server in HKEY_CLASSES_ROOT.
set_tests_properties(end_to_end_tests PROPERTIES RESOURCE_LOCK "settings;clipboard;classes")
