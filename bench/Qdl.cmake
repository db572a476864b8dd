# A plain program: the emulated download mode written by Debian's qdl (one
# child process per module), by the modem engine and by its protocol core
# over libusb, the same emulated modules on the emulated hub (umockdev).
if(TARGET module_usb_testbed)
  add_executable(bench_qdl ${CMAKE_CURRENT_LIST_DIR}/QdlBench.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LibusbPacketLink.cpp ${CMAKE_CURRENT_LIST_DIR}/LibusbPacketLink.h)
  target_link_libraries(bench_qdl PRIVATE module_usb_testbed qdl_process modem_engine modem_core usb_sockets station_common)
endif()
