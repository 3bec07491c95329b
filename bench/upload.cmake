# The upload benchmark: FAESendXml against the in-process substitute backend, then the curl command
# line doing the same uploads. Included from bench/CMakeLists.txt. It needs the test PKI of
# tests/support, so it exists only in builds with tests.
if(VORN_BUILD_TESTS)
  add_executable(bench_upload ${CMAKE_CURRENT_LIST_DIR}/bench_upload.cpp)
  target_link_libraries(bench_upload PRIVATE vorn_backend vorn_substitute vorn_test_support Qt6::Core)
endif()
