# Encoder and packetiser tests: an independent depacketiser, libx264 driven
# directly for comparison, and libavcodec to decode what was sent.
pkg_check_modules(AVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)

add_library(tandeo_encoder_testutil STATIC
  desktop_sequence.cpp
  encoder_test_util.cpp
  h264_decoder.cpp
  rtp_depacketiser.cpp
)
target_include_directories(tandeo_encoder_testutil PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tandeo_encoder_testutil PUBLIC tandeo_encoder PkgConfig::AVCODEC)

tandeo_test(encoder_test media
  SOURCES
    encoder_stream_test.cpp
    picture_repeater_test.cpp
    rtp_packetiser_test.cpp
    x264_encoder_test.cpp
  LIBS tandeo_encoder_testutil
  TIMEOUT 600)

# Counts operator new across the whole process, so it runs on its own.
tandeo_test(encoder_alloc_test media
  SOURCES encoder_alloc_test.cpp
  LIBS tandeo_encoder_testutil)
# Its replacement operator delete frees what its operator new took from malloc.
set_source_files_properties(encoder_alloc_test.cpp PROPERTIES COMPILE_OPTIONS -Wno-mismatched-new-delete)
