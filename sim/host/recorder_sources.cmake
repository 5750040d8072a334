# The recorder and the pattern generator, listed once for the host library and
# for their own test program.
set(ORVIK_RECORDER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/Recorder.cpp ${CMAKE_CURRENT_LIST_DIR}/Patterns.cpp)
