station_pg_test(StationReportTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StationReportTest.cpp LIBS station_report)
add_dependencies(StationReportTest station-report)
