# The engine boundary: the event sink and the engine binding, tested against
# probe engine libraries built from the public header alone and loaded with
# dlopen as the real engine is. Labelled "tsan" to run under ThreadSanitizer.

set(_probes probe_engine probe_engine_no_destroy probe_engine_null_create probe_engine_no_create)
foreach(_probe ${_probes})
  add_library(${_probe} MODULE ProbeEngine.cpp ProbeReport.h)
  target_link_libraries(${_probe} PRIVATE station_engine_api station_common)
  target_include_directories(${_probe} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
endforeach()
target_compile_definitions(probe_engine_no_destroy PRIVATE PROBE_NO_DESTROY)
target_compile_definitions(probe_engine_null_create PRIVATE PROBE_NULL_CREATE)
target_compile_definitions(probe_engine_no_create PRIVATE PROBE_NO_CREATE)

station_test(EventSinkTest
  SOURCES EventSinkTest.cpp RecordingHandler.cpp RecordingHandler.h
  LIBS station_lines
  LABELS tsan)

station_test(EngineBindingTest
  SOURCES EngineBindingTest.cpp RecordingHandler.cpp RecordingHandler.h ProbeReport.h
  LIBS station_lines
  LABELS tsan)
add_dependencies(EngineBindingTest ${_probes})
target_compile_definitions(EngineBindingTest PRIVATE
  PROBE_ENGINE="$<TARGET_FILE:probe_engine>"
  PROBE_ENGINE_NO_DESTROY="$<TARGET_FILE:probe_engine_no_destroy>"
  PROBE_ENGINE_NULL_CREATE="$<TARGET_FILE:probe_engine_null_create>"
  PROBE_ENGINE_NO_CREATE="$<TARGET_FILE:probe_engine_no_create>")
