# The JSON benchmark: parse and serialise a 10 MB search answer. Included from bench/CMakeLists.txt.
add_executable(bench_json ${CMAKE_CURRENT_LIST_DIR}/bench_json.cpp)
target_compile_features(bench_json PRIVATE cxx_std_20)
target_link_libraries(bench_json PRIVATE vorn_json)
