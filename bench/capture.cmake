# Screen grab against a memcpy floor; bench/run-capture runs it under Xvfb.
add_executable(capture_bench ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp)
target_link_libraries(capture_bench PRIVATE tandeo_capture tandeo_platform benchmark::benchmark Qt5::Core)
