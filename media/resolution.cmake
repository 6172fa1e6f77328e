add_library(tandeo_resolution STATIC resolution_table.cpp)
target_include_directories(tandeo_resolution PUBLIC ${PROJECT_SOURCE_DIR})
