# The media tests of the Windows build, run under wine: the scaler and the
# colour conversion byte for byte against their reference (every instruction
# set the processor has), the pacer, the resolution table. The encoder's
# stream is checked end to end (tools/tests): wine's sender to the Linux
# device, whose recording FFmpeg decodes.
include(scaler.cmake)
include(resolution.cmake)
include(pacer.cmake)

# The GDI grab and the capture's planes on the X display under wine.
tandeo_test(capture_win_test media SOURCES capture_win_test.cpp LIBS tandeo_capture tandeo_scaler gdi32 user32
  TIMEOUT 300)
# It and the platform layer's test each show a window of known colours: one at a time.
set_tests_properties(capture_win_test PROPERTIES RUN_SERIAL TRUE)
