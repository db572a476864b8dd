# The modem engine's protocol core against scripted replies and against the
# emulated modules, in process.
foreach(_test AtReplyTest SaharaTest FirehoseTest FlashPackageTest ModemFlashTest)
  station_test(${_test}
    SOURCES modem/${_test}.cpp modem/ScriptedLink.h
    LIBS modemdevice_core)
  target_include_directories(${_test} PRIVATE "${CMAKE_CURRENT_LIST_DIR}/modem")
endforeach()
