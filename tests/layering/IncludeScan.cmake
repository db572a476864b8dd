# No #include walks around the include roots with "..": a header of another
# folder is reached by its folder's name, so that the layers decide what a
# file can see. Scans the folders given in ROOTS (";"-separated).
set(_offenders "")
foreach(_root ${ROOTS})
  file(GLOB_RECURSE _files "${_root}/*.h" "${_root}/*.hpp" "${_root}/*.cpp" "${_root}/*.c")
  foreach(_file ${_files})
    file(STRINGS "${_file}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.\\./")
    foreach(_line ${_lines})
      string(APPEND _offenders "\n  ${_file}: ${_line}")
    endforeach()
  endforeach()
endforeach()
if(_offenders)
  message(FATAL_ERROR "Includes that walk around the include roots:${_offenders}")
endif()
