# Google Benchmark: QueryDevice and a scan of eight lines on the fastboot
# engine, with good, silent, garbage and unresolvable ports.
add_executable(bench_presence ${CMAKE_CURRENT_LIST_DIR}/PresenceBench.cpp)
target_link_libraries(bench_presence PRIVATE fbdevice_core fastboot_core benchmark::benchmark station_common)
