# The lines without a window: a recording row interface instead of widgets;
# results go to the application's counters and record log (StationResults).
station_test(LineControllerTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LineControllerTest.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordingRows.h
  LIBS station_lines station_app
  LABELS tsan)
add_dependencies(LineControllerTest record_seed)
