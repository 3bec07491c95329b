# Benchmarks of the file utilities.
add_executable(bench_listfolder ${CMAKE_CURRENT_LIST_DIR}/bench_listfolder.cpp)
target_link_libraries(bench_listfolder PRIVATE vorn_util Qt6::Core)
