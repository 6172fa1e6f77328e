# The receiving end of bench/run-latency for FFmpeg's plain Annex B stream.
if(TARGET tandeo_device_lib)
  add_executable(tandeo-annexb-probe ${CMAKE_CURRENT_LIST_DIR}/annexb_probe.cpp)
  target_link_libraries(tandeo-annexb-probe PRIVATE tandeo_device_lib)
endif()
