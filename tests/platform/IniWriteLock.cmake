# The INI write lock: two writers of one file, as two threads, as two copies
# of the platform core in one process (the tool and an engine library) and as
# two processes.
set(_ini_writer ${CMAKE_CURRENT_LIST_DIR}/IniWriter.cpp ${CMAKE_CURRENT_LIST_DIR}/IniWriter.h)

# A loadable module with its own, hidden copy of the core, as an engine has.
add_library(ini_writer_module MODULE ${_ini_writer})
target_link_libraries(ini_writer_module PRIVATE station_core)
target_link_options(ini_writer_module PRIVATE -Wl,--exclude-libs,ALL)
set_target_properties(ini_writer_module PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_executable(ini_writer_child ${CMAKE_CURRENT_LIST_DIR}/IniWriterChild.cpp ${_ini_writer})
target_link_libraries(ini_writer_child PRIVATE station_core)

station_test(IniWriteLockTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniWriteLockTest.cpp
  LIBS station_platform ${CMAKE_DL_LIBS})
add_dependencies(IniWriteLockTest ini_writer_module ini_writer_child)
target_compile_definitions(IniWriteLockTest PRIVATE
  INI_WRITER_MODULE="$<TARGET_FILE:ini_writer_module>"
  INI_WRITER_CHILD="$<TARGET_FILE:ini_writer_child>")
