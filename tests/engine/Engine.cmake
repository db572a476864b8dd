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
