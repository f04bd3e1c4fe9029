# cmake -P: the desktop entry's Exec and TryExec lines for install paths with
# the characters the Desktop Entry Specification reserves, checked against
# their expected text and by desktop-file-validate (when it is installed).
include(${CMAKE_CURRENT_LIST_DIR}/../DesktopEntry.cmake)

set(out ${CMAKE_CURRENT_BINARY_DIR}/desktop-entry-test)
file(MAKE_DIRECTORY ${out})
find_program(validate desktop-file-validate)
# path | Exec | TryExec
set(cases
  "/usr/bin/vistrel|\"/usr/bin/vistrel\"|/usr/bin/vistrel"
  "/opt/orvane suite/bin/vistrel|\"/opt/orvane suite/bin/vistrel\"|/opt/orvane suite/bin/vistrel"
  "/opt/a\"b$c`d/bin/vistrel|\"/opt/a\\\\\"b\\\\$c\\\\`d/bin/vistrel\"|/opt/a\"b$c`d/bin/vistrel"
  "/opt/back\\slash/bin/vistrel|\"/opt/back\\\\\\\\slash/bin/vistrel\"|/opt/back\\\\slash/bin/vistrel"
  "/opt/100%/bin/vistrel|\"/opt/100%%/bin/vistrel\"|/opt/100%/bin/vistrel")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 path)
  list(GET fields 1 expected_exec)
  list(GET fields 2 expected_try)
  orvane_desktop_program_lines("${path}" ORVANE_DESKTOP_EXEC ORVANE_DESKTOP_TRYEXEC)
  if(NOT ORVANE_DESKTOP_EXEC STREQUAL expected_exec OR NOT ORVANE_DESKTOP_TRYEXEC STREQUAL expected_try)
    message(FATAL_ERROR "${path}:\n  Exec=${ORVANE_DESKTOP_EXEC}\n  TryExec=${ORVANE_DESKTOP_TRYEXEC}\n"
                        "expected:\n  Exec=${expected_exec}\n  TryExec=${expected_try}")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/../../app/main/vistrel.desktop.in ${out}/vistrel.desktop @ONLY)
  if(validate)
    execute_process(COMMAND ${validate} ${out}/vistrel.desktop RESULT_VARIABLE rc OUTPUT_VARIABLE o ERROR_VARIABLE e)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${path}: desktop-file-validate: ${o}${e}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE ${out})
message(STATUS "desktop entry: ok")
