# The window and the installer of the Windows build, under wine on the X
# display, against the Linux reference device (TANDEO_LINUX_BIN).
set(TANDEO_LINUX_BIN ${PROJECT_SOURCE_DIR}/build/bin CACHE PATH "bin folder of the Linux build")
add_test(NAME wine_window_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine-window-check $<TARGET_FILE:tandeo_program> ${TANDEO_LINUX_BIN})
add_test(NAME wine_installer_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine-installer-check
          ${CMAKE_BINARY_DIR}/Tandeo-${PROJECT_VERSION}-setup.exe)
# Both look for the program's window by its class.
set_tests_properties(wine_window_test wine_installer_test PROPERTIES LABELS windows TIMEOUT 300 RUN_SERIAL TRUE)
