# Locks the shell's CF_HDROP blocks for the engine's reader. Only kernel32 is used; DragQueryFileW, which the tests
# compare against, is shell32's and linked by the tests.
add_library(pathlift_drop_files STATIC ${CMAKE_CURRENT_SOURCE_DIR}/shellext/drop_files.cpp)
target_link_libraries(pathlift_drop_files PUBLIC pathlift_engine)
