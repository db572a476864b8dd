# A plain program: the fastboot engine flashing one emulated device over
# emulated USB and over loopback TCP. Needs the USB testbed (umockdev).
if(TARGET usb_testbed)
  add_executable(bench_usb ${CMAKE_CURRENT_LIST_DIR}/UsbBench.cpp)
  target_link_libraries(bench_usb PRIVATE usb_testbed fbdevice_core fastboot_core station_common)
endif()
