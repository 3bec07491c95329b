# The dispatch benchmark: one tick over 500 small invoices against the in-process substitute
# backend. Included from bench/CMakeLists.txt; it needs the test PKI, so only in builds with tests.
if(VORN_BUILD_TESTS)
  add_executable(bench_dispatch ${CMAKE_CURRENT_LIST_DIR}/bench_dispatch.cpp)
  target_link_libraries(bench_dispatch PRIVATE vorn_dispatch vorn_substitute vorn_test_support Qt6::Core)
endif()
