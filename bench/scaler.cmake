# Colour conversion + scaling against libyuv, swscale and a memcpy floor.
find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
find_library(LIBYUV_LIBRARY yuv REQUIRED)
pkg_check_modules(SWSCALE REQUIRED IMPORTED_TARGET libswscale libavutil)
add_executable(scaler_bench ${CMAKE_CURRENT_LIST_DIR}/scaler_bench.cpp)
target_include_directories(scaler_bench PRIVATE ${LIBYUV_INCLUDE_DIR})
target_link_libraries(scaler_bench PRIVATE tandeo_scaler benchmark::benchmark ${LIBYUV_LIBRARY}
  PkgConfig::SWSCALE)
