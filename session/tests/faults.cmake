# Fault tests: a device that stalls, dies or misbehaves, parameter changes
# and screen changes while streaming.
pkg_check_modules(FAULTX REQUIRED IMPORTED_TARGET x11 xrandr)
add_library(tandeo_fault_support STATIC fault_support.cpp)
target_link_libraries(tandeo_fault_support PUBLIC tandeo tandeo_fake_device tandeo_encoder_testutil tandeo_test_screen
  GTest::gtest PkgConfig::FAULTX)
target_include_directories(tandeo_fault_support PUBLIC . ${PROJECT_SOURCE_DIR})
target_compile_definitions(tandeo_fault_support PRIVATE
  TANDEO_FAULT_PEER="${CMAKE_BINARY_DIR}/tests/session_fault_peer")

add_executable(session_fault_peer fault_peer.cpp)
target_link_libraries(session_fault_peer PRIVATE tandeo_fault_support)
set_target_properties(session_fault_peer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

tandeo_test(session_fault_loss_test session SOURCES fault_loss_test.cpp
  LIBS tandeo tandeo_fault_support TIMEOUT 120)
add_dependencies(session_fault_loss_test session_fault_peer)

tandeo_test(session_fault_input_test session SOURCES fault_input_test.cpp
  LIBS tandeo tandeo_fault_support TIMEOUT 120)
add_dependencies(session_fault_input_test session_fault_peer)

tandeo_test(session_fault_stall_test session SOURCES fault_stall_test.cpp
  LIBS tandeo tandeo_fault_support TIMEOUT 120)

tandeo_test(session_fault_params_test session SOURCES fault_params_test.cpp
  LIBS tandeo tandeo_fault_support tandeo_resolution TIMEOUT 120)

# Each on a private Xvfb of its own. The still screen takes a minute, by
# design, and stays out of the sanitizer passes (label e2e).
tandeo_test(session_fault_screen_test session SOURCES fault_screen_test.cpp
  LIBS tandeo tandeo_fault_support TIMEOUT 120)
set_tests_properties(session_fault_screen_test PROPERTIES
  ENVIRONMENT "GTEST_FILTER=Screen.ChangesSizeWhileStreaming")
add_test(NAME session_fault_still_screen_test COMMAND session_fault_screen_test
  --gtest_filter=Screen.StaysStillForSixtySeconds)
set_tests_properties(session_fault_still_screen_test PROPERTIES LABELS e2e TIMEOUT 150)
