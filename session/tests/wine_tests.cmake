# The session tests of the Windows build, run under wine: framing, MD5,
# encoding control and pairing against the scripted device on loopback, the
# C header, and the DLL's export table.
tandeo_test(session_md5_test session SOURCES md5_test.cpp LIBS tandeo_session_core)
tandeo_test(session_dispatch_test session SOURCES recv_dispatch_test.cpp LIBS tandeo_session_core tandeo_fake_device)
tandeo_test(session_pairing_test session SOURCES pairing_test.cpp LIBS tandeo tandeo_fake_device tandeo_session_core)
tandeo_test(session_encoding_params_test session SOURCES encoding_params_test.cpp LIBS tandeo_session_core)

add_executable(session_c_header_test c_header_test.c)
target_link_libraries(session_c_header_test PRIVATE tandeo)
add_test(NAME session_c_header_test COMMAND session_c_header_test)
# Exactly the ten names, undecorated, in the DLL's export table.
add_test(NAME session_exported_symbols
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols_dll.sh $<TARGET_FILE:tandeo>)
set_tests_properties(session_c_header_test session_exported_symbols PROPERTIES LABELS windows)
