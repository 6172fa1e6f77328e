add_library(tandeo_codec STATIC codec_thread.cpp)
target_include_directories(tandeo_codec PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/session/include)
target_link_libraries(tandeo_codec PUBLIC tandeo_encoder tandeo_capture tandeo_resolution tandeo_platform)
