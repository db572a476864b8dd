# Runs one layering probe: the control, which differs from the probe only in
# the header it includes, must compile, and the probe must not. The verdict
# rests on the two builds' results, not on the compiler's wording.
foreach(_var BUILD_DIR PROBE CONTROL HEADER)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "ProbeCheck.cmake needs -D${_var}=...")
  endif()
endforeach()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --target "${CONTROL}"
  RESULT_VARIABLE _control OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(NOT _control EQUAL 0)
  message(FATAL_ERROR "The control ${CONTROL} does not compile, so the probe proves nothing:\n${_out}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --target "${PROBE}"
  RESULT_VARIABLE _probe OUTPUT_QUIET ERROR_QUIET)
if(_probe EQUAL 0)
  message(FATAL_ERROR "${PROBE} compiles: its library sees ${HEADER}")
endif()
message(STATUS "${PROBE}: ${HEADER} is out of reach")
