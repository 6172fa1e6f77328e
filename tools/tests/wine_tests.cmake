# End to end under wine: tandeo-cli.exe sharing the X display with the Linux
# reference device. TANDEO_LINUX_BIN is the Linux build's bin folder (the
# device and the test pattern).
set(TANDEO_LINUX_BIN ${PROJECT_SOURCE_DIR}/build/bin CACHE PATH "bin folder of the Linux build")
add_test(NAME wine_share_test
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine-share-check $<TARGET_FILE:tandeo-cli> ${TANDEO_LINUX_BIN})
set_tests_properties(wine_share_test PROPERTIES LABELS windows TIMEOUT 180 RUN_SERIAL TRUE)
