# Screen grab against a memcpy floor; bench/run-capture runs it under Xvfb.
add_executable(capture_bench ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp)
target_link_libraries(capture_bench PRIVATE tandeo_capture tandeo_platform benchmark::benchmark Qt5::Core)

# The desktop portal's screen cast against GStreamer's pipewiresrc;
# bench/run-capture runs it on a private headless Wayland desktop.
add_executable(portal_bench ${CMAKE_CURRENT_LIST_DIR}/portal_bench.cpp)
target_include_directories(portal_bench PRIVATE ${PROJECT_SOURCE_DIR}/platform/src)
target_link_libraries(portal_bench PRIVATE tandeo_platform)
