# A plain program: the fastboot engine flashing one emulated device over
# emulated USB and over loopback TCP. Needs the tests' USB testbed.
if(TARGET usb_testbed)
  add_executable(bench_usb ${CMAKE_CURRENT_LIST_DIR}/UsbBench.cpp)
  target_include_directories(bench_usb PRIVATE "${CMAKE_SOURCE_DIR}/tests/engine/usb")
  target_link_libraries(bench_usb PRIVATE usb_testbed fbdevice_core fastboot_core station_common)
endif()
