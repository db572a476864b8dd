# The stand-in engine: its parts, the built library end to end (labelled
# "tsan" to run under ThreadSanitizer) and the simbus tool.

station_test(SimCoreTest
  SOURCES SimCoreTest.cpp
  LIBS sim_core)

station_test(SimEngineTest
  SOURCES SimEngineTest.cpp EngineStation.cpp EngineStation.h
          ../lines/RecordingHandler.cpp ../lines/RecordingHandler.h
  LIBS station_lines
  LABELS tsan)
add_dependencies(SimEngineTest SimEngine)

station_test(SimbusTest
  SOURCES SimbusTest.cpp EngineStation.cpp EngineStation.h
          ../lines/RecordingHandler.cpp ../lines/RecordingHandler.h
  LIBS station_lines)
add_dependencies(SimbusTest SimEngine simbus)

# The fastboot engine: protocol, sparse pieces, and the built library against
# emulated devices.
station_test(FastbootProtocolTest
  SOURCES FastbootProtocolTest.cpp ScriptedFastbootServer.cpp ScriptedFastbootServer.h
  LIBS fastboot_core)

station_test(FastbootEngineTest
  SOURCES FastbootEngineTest.cpp FastbootStation.cpp FastbootStation.h
          ScriptedFastbootServer.cpp ScriptedFastbootServer.h
          ../lines/RecordingHandler.cpp ../lines/RecordingHandler.h
  LIBS station_lines fbdevice_core
  LABELS tsan)
add_dependencies(FastbootEngineTest FastbootEngine)

station_test(PortPresenceTest SOURCES PortPresenceTest.cpp LIBS fastboot_core)

# Presence, the hold and read-back over TCP; the engine built in as well as
# loaded, for the tests that swap its name lookups.
station_test(FastbootPresenceTest
  SOURCES FastbootPresenceTest.cpp FastbootStation.cpp FastbootStation.h
          ScriptedFastbootServer.cpp ScriptedFastbootServer.h
          ../lines/RecordingHandler.cpp ../lines/RecordingHandler.h
  LIBS station_lines fbdevice_core
  LABELS tsan)
add_dependencies(FastbootPresenceTest FastbootEngine)

station_test(SparsePiecesTest SOURCES SparsePiecesTest.cpp LIBS fastboot_core)
target_compile_definitions(SparsePiecesTest PRIVATE STATION_TEST_SOURCE="${CMAKE_CURRENT_LIST_DIR}")

# Skips with a message where Debian's fastboot command is missing.
station_test(FastbootCommandTest SOURCES FastbootCommandTest.cpp LIBS fbdevice_core)

# The fastboot engine's small pure parts.
station_test(TransferRateTest SOURCES TransferRateTest.cpp LIBS fastboot_core)
station_test(DeviceTextTest SOURCES DeviceTextTest.cpp LIBS fastboot_core)
station_test(FlashPlanTest SOURCES FlashPlanTest.cpp LIBS fastboot_core)
