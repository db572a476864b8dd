# Needs the tests' private PostgreSQL server for the upload figures.
if(TARGET station_test_pg)
  add_executable(bench_recorddb ${CMAKE_CURRENT_LIST_DIR}/RecordDbBench.cpp)
  target_link_libraries(bench_recorddb PRIVATE station_test_pg station_recorddb station_records
    benchmark::benchmark station_common)
endif()
