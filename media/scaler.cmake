# Colour conversion and cubic scaler: a plain reference and SIMD row kernels,
# each instruction set compiled with its own flags and chosen at run time.
add_library(tandeo_scaler STATIC
  ${CMAKE_CURRENT_LIST_DIR}/scaler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scaler_fast.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scaler_reference.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cubic_filter_tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rgb24_to_i420.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rgb24_to_i420_reference.cpp)
target_include_directories(tandeo_scaler PUBLIC ${PROJECT_SOURCE_DIR})

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
  set(scaler_sse2 ${CMAKE_CURRENT_LIST_DIR}/scaler_sse2.cpp ${CMAKE_CURRENT_LIST_DIR}/rgb24_to_i420_sse2.cpp)
  set(scaler_avx2 ${CMAKE_CURRENT_LIST_DIR}/scaler_avx2.cpp ${CMAKE_CURRENT_LIST_DIR}/rgb24_to_i420_avx2.cpp)
  set(scaler_avx512 ${CMAKE_CURRENT_LIST_DIR}/scaler_avx512.cpp ${CMAKE_CURRENT_LIST_DIR}/rgb24_to_i420_avx512.cpp)
  target_sources(tandeo_scaler PRIVATE ${scaler_sse2} ${scaler_avx2} ${scaler_avx512})
  set_source_files_properties(${scaler_sse2} PROPERTIES COMPILE_OPTIONS "-msse2")
  set_source_files_properties(${scaler_avx2} PROPERTIES COMPILE_OPTIONS "-mavx2")
  set_source_files_properties(${scaler_avx512} PROPERTIES COMPILE_OPTIONS
    # GCC 12 warns inside its own AVX-512 headers (their undefined vectors).
    "-mavx2;-mavx512f;-mavx512bw;-mavx512vl;-mavx512vbmi;-Wno-maybe-uninitialized")
  target_compile_definitions(tandeo_scaler PRIVATE TANDEO_SCALER_X86)
endif()
