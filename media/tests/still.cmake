# The rate control on a picture that never changes.
tandeo_test(encoder_still_picture_test media SOURCES ${CMAKE_CURRENT_LIST_DIR}/still_picture_test.cpp
  LIBS tandeo_encoder_testutil)
