# Hosts that talk usbfs directly, as Debian's qdl does, on the emulated hub;
# and the emulated download mode checked against qdl itself, run as a child
# (skipped where qdl is not installed).
if(TARGET usb_testbed)
  station_test(UsbfsBulkTest
    SOURCES usb/UsbfsBulkTest.cpp
    LIBS usb_testbed
    LABELS tsan)
endif()
if(TARGET module_usb_testbed)
  station_test(QdlConformanceTest
    SOURCES usb/QdlConformanceTest.cpp
    LIBS module_usb_testbed qdl_process
    LABELS tsan)
endif()
