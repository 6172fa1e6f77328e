# Settings of the Windows build (cmake/mingw-w64.cmake as the toolchain):
# Windows 7 and later, the runtime DLLs beside the programs, GoogleTest built
# from Debian's sources, and every test under wine with the label "windows".

# GCC cannot align the stack beyond 16 bytes on Win64: AVX spills must not
# use the aligned moves.
add_compile_options(-Wa,-muse-unaligned-vector-move)
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
# Resource scripts (the program's icon).
enable_language(RC)

# Programs, tests and DLLs all in bin/, where Windows looks for a program's DLLs.
set(TANDEO_TEST_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The DLLs the programs need at run time, copied beside them: the compiler's
# runtime, Qt's libraries and the plugins Qt loads from the program's folder.
get_target_property(tandeo_qmake Qt5::qmake IMPORTED_LOCATION)
get_filename_component(tandeo_qt_prefix ${tandeo_qmake} DIRECTORY)
get_filename_component(tandeo_qt_prefix ${tandeo_qt_prefix} DIRECTORY)
set(tandeo_runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(path ${path} REALPATH)
  list(APPEND tandeo_runtime_dlls ${path})
endforeach()
foreach(module Core Gui Widgets Network Test)
  list(APPEND tandeo_runtime_dlls ${tandeo_qt_prefix}/bin/Qt5${module}.dll)
endforeach()
set(tandeo_qt_plugins
  platforms/qwindows.dll
  imageformats/qgif.dll
  imageformats/qico.dll
  styles/qwindowsvistastyle.dll)
list(APPEND tandeo_runtime_dlls ${TANDEO_WIN_EXTRA_DLLS})

add_custom_target(tandeo_runtime ALL)
foreach(dll ${tandeo_runtime_dlls})
  get_filename_component(name ${dll} NAME)
  add_custom_command(TARGET tandeo_runtime POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dll} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name})
endforeach()
foreach(plugin ${tandeo_qt_plugins})
  get_filename_component(dir ${plugin} DIRECTORY)
  if(EXISTS ${tandeo_qt_prefix}/plugins/${plugin})
    add_custom_command(TARGET tandeo_runtime POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${dir}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${tandeo_qt_prefix}/plugins/${plugin}
              ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${plugin})
    list(APPEND tandeo_deployed_plugins ${plugin})
  endif()
endforeach()
