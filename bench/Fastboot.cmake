# A plain program: prints the times of the fastboot engine and of Debian's
# fastboot command flashing the same emulated devices.
add_executable(bench_fastboot ${CMAKE_CURRENT_LIST_DIR}/FastbootBench.cpp)
target_link_libraries(bench_fastboot PRIVATE fbdevice_core fastboot_core station_common)
