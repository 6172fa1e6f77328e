# The capture object; the screen tests run on a private Xvfb of their own.
tandeo_test(media_capture_test media SOURCES ${CMAKE_CURRENT_LIST_DIR}/capture_test.cpp
  LIBS tandeo_capture tandeo_test_screen TIMEOUT 300)
tandeo_test(media_capture_nodisplay_test media SOURCES ${CMAKE_CURRENT_LIST_DIR}/capture_nodisplay_test.cpp
  LIBS tandeo_capture ENV "DISPLAY=")
