# Encoding speed of the encoder beside libx264 driven directly (bench/run-encoder).
# The desktop-like pictures and parameter records come from the encoder tests.
add_executable(encoder_bench encoder_bench.cpp)
target_link_libraries(encoder_bench PRIVATE tandeo_encoder_testutil)
