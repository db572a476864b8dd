add_executable(bench_records ${CMAKE_CURRENT_LIST_DIR}/RecordsBench.cpp)
target_link_libraries(bench_records PRIVATE station_records benchmark::benchmark station_common)
