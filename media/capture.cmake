add_library(tandeo_capture STATIC ${CMAKE_CURRENT_LIST_DIR}/capture.cpp ${CMAKE_CURRENT_LIST_DIR}/capture_portal.cpp)
target_include_directories(tandeo_capture PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tandeo_capture PUBLIC tandeo_platform tandeo_scaler Qt5::Core)
