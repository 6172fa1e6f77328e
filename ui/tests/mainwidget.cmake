# The main window: its own behaviour (label ui), and the whole sender against
# the reference device on loopback (label e2e), run in-process.
if(NOT TARGET tandeo_mgr)
  return()
endif()

tandeo_ui_test(tst_ui_mainwidget SOURCES tst_mainwidget.cpp mainwindowprobe.h)

if(EXISTS ${PROJECT_SOURCE_DIR}/device/CMakeLists.txt)
  add_executable(tst_e2e_mainwidget tst_mainwidget_e2e.cpp mainwindowprobe.h)
  target_link_libraries(tst_e2e_mainwidget PRIVATE tandeo_ui tandeo_app tandeo_device_lib tandeo_fault_support Qt5::Test)
  target_compile_definitions(tst_e2e_mainwidget PRIVATE
    TANDEO_LOG_PROPERTIES="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/log4qt_win.properties")
  set_target_properties(tst_e2e_mainwidget PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME tst_e2e_mainwidget COMMAND tst_e2e_mainwidget)
  set_tests_properties(tst_e2e_mainwidget PROPERTIES LABELS e2e TIMEOUT 180)
endif()

# Start-up of the real program: single instance, stale lock, log file.
add_executable(tst_e2e_startup tst_startup.cpp)
target_link_libraries(tst_e2e_startup PRIVATE Qt5::Test Qt5::Core)
target_compile_definitions(tst_e2e_startup PRIVATE TANDEO_PROGRAM="$<TARGET_FILE:tandeo_program>")
add_dependencies(tst_e2e_startup tandeo_program)
set_target_properties(tst_e2e_startup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_test(NAME tst_e2e_startup COMMAND tst_e2e_startup)
set_tests_properties(tst_e2e_startup PROPERTIES LABELS e2e TIMEOUT 120)

# Installation and the Debian package of the program.
add_test(NAME tst_e2e_install COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install-check ${CMAKE_BINARY_DIR})
set_tests_properties(tst_e2e_install PROPERTIES LABELS e2e TIMEOUT 300)
