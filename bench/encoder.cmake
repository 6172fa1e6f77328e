# Encoding speed of the encoder beside libx264 driven directly (bench/run-encoder).
add_executable(encoder_bench
  encoder_bench.cpp
  ${PROJECT_SOURCE_DIR}/media/tests/desktop_sequence.cpp
)
target_include_directories(encoder_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(encoder_bench PRIVATE tandeo_encoder)
