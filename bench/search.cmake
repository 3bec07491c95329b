# bench_search: FAEPassivaSearch of a 10,000-invoice answer from the substitute backend.
# Needs the test PKI helper, which is built with the tests.
if(VORN_BUILD_TESTS)
  add_executable(bench_search ${CMAKE_CURRENT_LIST_DIR}/bench_search.cpp)
  target_link_libraries(bench_search PRIVATE vorn_backend vorn_log vorn_substitute vorn_test_support Qt6::Core)
  target_compile_features(bench_search PRIVATE cxx_std_20)
endif()
