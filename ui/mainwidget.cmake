# The main window. It drives the session through the session manager and
# keeps the recent addresses in the application's store.
if(NOT TARGET tandeo_mgr)
  message(STATUS "main window: no session manager in the tree yet; left out")
  return()
endif()
target_sources(tandeo_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/mainwidget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mainwidget.h
  ${CMAKE_CURRENT_LIST_DIR}/mainwidget.ui
)
target_link_libraries(tandeo_ui PUBLIC tandeo_mgr tandeo_app)

# tandeo-main-shots: every state of the main window as a PNG (ui/shots/run-shots).
if(WIN32)
  return()
endif()
add_executable(tandeo-main-shots ${CMAKE_CURRENT_LIST_DIR}/shots/mainshots.cpp)
target_link_libraries(tandeo-main-shots PRIVATE tandeo_ui tandeo_app)
