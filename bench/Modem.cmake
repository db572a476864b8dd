# A plain program: a package written into an emulated module in process by
# the modem protocol core, with its time and CPU cost.
add_executable(bench_modem ${CMAKE_CURRENT_LIST_DIR}/ModemBench.cpp)
target_link_libraries(bench_modem PRIVATE modemdevice_core modem_core station_common)
