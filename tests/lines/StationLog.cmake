# The daily log's writer thread, queue, files and clean-up.
station_test(StationLogTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StationLogTest.cpp
  LIBS station_lines
  LABELS tsan)
