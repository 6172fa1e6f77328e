# The pacing and bit-rate fitting on a narrow link, against a simulated link.
tandeo_test(link_pacer_test media SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_pacer_test.cpp LIBS tandeo_codec)
