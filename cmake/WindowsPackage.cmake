# Installation and packages of the Windows build: everything in one folder
# (the programs, tandeo.dll, the runtime and Qt DLLs, Qt's plugins, the log
# configuration), packed by `cpack` as an NSIS installer
# (Tandeo-<version>-setup.exe: Program Files, a Start-menu entry, an
# uninstaller) and as a plain zip (Tandeo-<version>-win64.zip).
# The program's icon, the Linux one as a Windows icon: for the Start menu,
# the taskbar, Explorer and the installer.
find_program(TANDEO_CONVERT convert REQUIRED)
set(tandeo_ico ${CMAKE_BINARY_DIR}/tandeo.ico)
add_custom_command(OUTPUT ${tandeo_ico}
  COMMAND ${TANDEO_CONVERT} ${PROJECT_SOURCE_DIR}/app/tandeo.png -define icon:auto-resize=128,64,48,32,16 ${tandeo_ico}
  DEPENDS ${PROJECT_SOURCE_DIR}/app/tandeo.png)
file(WRITE ${CMAKE_BINARY_DIR}/tandeo_icon.rc "1 ICON \"${tandeo_ico}\"\n")
set_source_files_properties(${CMAKE_BINARY_DIR}/tandeo_icon.rc PROPERTIES OBJECT_DEPENDS ${tandeo_ico})
target_sources(tandeo_program PRIVATE ${CMAKE_BINARY_DIR}/tandeo_icon.rc)
set(CPACK_NSIS_MUI_ICON ${tandeo_ico})
set(CPACK_NSIS_MUI_UNIICON ${tandeo_ico})

install(TARGETS tandeo_program tandeo-cli RUNTIME DESTINATION . COMPONENT program)
install(TARGETS tandeo RUNTIME DESTINATION . ARCHIVE DESTINATION sdk COMPONENT program)
install(FILES session/include/tdsdk.h DESTINATION sdk COMPONENT program)
# Qt's test library is only for the tests.
set(tandeo_installed_dlls ${tandeo_runtime_dlls})
list(FILTER tandeo_installed_dlls EXCLUDE REGEX "Qt5Test\\.dll$")
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/log4qt_win.properties ${tandeo_installed_dlls}
  DESTINATION . COMPONENT program)
foreach(plugin ${tandeo_deployed_plugins})
  get_filename_component(dir ${plugin} DIRECTORY)
  install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${plugin} DESTINATION ${dir} COMPONENT program)
endforeach()

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME Tandeo)
set(CPACK_PACKAGE_VENDOR "Tandeo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Share this screen with a conference-room video device")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tandeo)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tandeo)
set(CPACK_PACKAGE_EXECUTABLES tandeo Tandeo)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for a 64-bit program.
set(CPACK_NSIS_EXECUTABLE ${CMAKE_CURRENT_LIST_DIR}/makensis-amd64)
set(CPACK_NSIS_DISPLAY_NAME Tandeo)
set(CPACK_NSIS_PACKAGE_NAME Tandeo)
set(CPACK_NSIS_INSTALLED_ICON_NAME tandeo.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN tandeo.exe)
set(CPACK_STRIP_FILES ON)
# One file name per generator.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/WindowsPackageNames.cmake)
include(CPack)
