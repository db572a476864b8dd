# The modem engine's protocol core against scripted replies and against the
# emulated modules, in process.
foreach(_test AtReplyTest SaharaTest FirehoseTest FlashPackageTest ModemFlashTest)
  station_test(${_test}
    SOURCES modem/${_test}.cpp modem/ScriptedLink.h
    LIBS modemdevice_core)
  target_include_directories(${_test} PRIVATE "${CMAKE_CURRENT_LIST_DIR}/modem")
endforeach()

# The modem engine: its settings and presence logic, and the engine itself
# on emulated modules through the ModemLinks seam (threads: tsan).
station_test(ModemSettingsTest
  SOURCES modem/ModemSettingsTest.cpp
  LIBS modem_engine)
station_test(ModemEngineTest
  SOURCES modem/ModemEngineTest.cpp modem/ModelLinks.h
  LIBS modem_engine modemdevice_core
  LABELS tsan)
target_include_directories(ModemEngineTest PRIVATE "${CMAKE_CURRENT_LIST_DIR}/modem")
target_compile_definitions(ModemFlashTest PRIVATE STATION_TEST_SOURCE="${CMAKE_CURRENT_LIST_DIR}")
station_test(TtyLinkTest
  SOURCES modem/TtyLinkTest.cpp
  LIBS modem_engine)
