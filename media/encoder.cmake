# The H.264 encoder over libx264 and its RTP packetiser: pure code, no
# threads or sockets; the codec thread connects the sink to the socket.
pkg_check_modules(X264 REQUIRED IMPORTED_TARGET x264)

add_library(tandeo_encoder STATIC
  encoder_log.cpp
  picture_repeater.cpp
  rtp_packetiser.cpp
  x264_encoder.cpp
)
target_include_directories(tandeo_encoder PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tandeo_encoder PUBLIC tandeo_protocol PkgConfig::X264)
