tandeo_test(scaler_test media
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/cubic_filter_tables_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rgb24_to_i420_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/scaler_test.cpp
  LIBS tandeo_scaler
  TIMEOUT 600)
