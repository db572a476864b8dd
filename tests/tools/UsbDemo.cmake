# The USB demo comes up: usb-demo on a fresh station folder, offscreen.
if(TARGET usb-demo)
  add_test(NAME UsbDemoSmoke
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/usb_demo_smoke.sh" "$<TARGET_FILE:usb-demo>" "${STATION_DIR}")
  set_tests_properties(UsbDemoSmoke PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
  station_test_target(usb-demo) # and the station folder it runs on
endif()
