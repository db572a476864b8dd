# The USB demo comes up: usb-demo on a fresh station folder, offscreen.
if(TARGET usb-demo)
  add_test(NAME UsbDemoSmoke
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/usb_demo_smoke.sh" "$<TARGET_FILE:usb-demo>" "${STATION_DIR}")
  set_tests_properties(UsbDemoSmoke PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
  station_test_target(usb-demo) # and the station folder it runs on
endif()

# The modem demo comes up the same way, with the modem engine.
if(TARGET usb-demo AND TARGET ModemEngine)
  add_test(NAME UsbModemDemoSmoke
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/usb_modem_demo_smoke.sh" "$<TARGET_FILE:usb-demo>" "${STATION_DIR}")
  set_tests_properties(UsbModemDemoSmoke PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
endif()
