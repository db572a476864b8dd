# The emulated download mode checked against Debian's qdl command, run as a
# child on the emulated hub; skipped where qdl is not installed.
if(TARGET module_usb_testbed)
  station_test(QdlConformanceTest
    SOURCES usb/QdlConformanceTest.cpp
    LIBS module_usb_testbed qdl_process
    LABELS tsan)
endif()
