# The CF_HDROP reader against Wine's own DragQueryFileW and on a real shell data object.
add_executable(drop_files_tests ${CMAKE_CURRENT_SOURCE_DIR}/win/drop_files_test.cpp)
target_include_directories(drop_files_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(drop_files_tests PRIVATE pathlift_drop_files shell32 ole32 uuid GTest::gtest_main)
add_test(NAME drop_files_tests COMMAND drop_files_tests)
