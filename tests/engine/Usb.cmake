# The USB socket library, and the fastboot engine over USB. Tests on
# emulated USB devices link the testbed (testbeds/fbdevice/usb), which brings
# umockdev's preload library; without umockdev they are not built.

station_test(UsbLocationTest
  SOURCES usb/UsbLocationTest.cpp
  LIBS usb_sockets)
station_test(UsbPortMapTest
  SOURCES usb/UsbPortMapTest.cpp
  LIBS usb_sockets fastboot_core)

if(TARGET usb_testbed)
  station_test(UsbBusTest
    SOURCES usb/UsbBusTest.cpp
    LIBS usb_testbed usb_sockets fastboot_core
    LABELS tsan)

  # The built engine library on emulated USB devices.
  station_test(UsbEngineTest
    SOURCES usb/UsbEngineTest.cpp FastbootStation.cpp FastbootStation.h
            ../lines/RecordingHandler.cpp ../lines/RecordingHandler.h
    LIBS usb_testbed station_lines fbdevice_core
    LABELS tsan)
  add_dependencies(UsbEngineTest FastbootEngine)
endif()

if(TARGET usb_testbed)
  # Emulated modules on the hub: the AT tty through open() and termios,
  # download mode through plain libusb and the modem protocol core.
  station_test(ModuleHubTest
    SOURCES usb/ModuleHubTest.cpp usb/UsbTestbedFixture.h
    LIBS usb_testbed modemdevice_core usb_sockets
    LABELS tsan)
endif()
