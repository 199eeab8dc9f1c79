# Renders each manual page with man's warnings on; any warning fails.
foreach(page IN LISTS PAGES)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANWIDTH=80 ${MAN} --warnings -E UTF-8 -l ${page}
                  OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR warnings)
    message(FATAL_ERROR "${page}: ${warnings}")
  endif()
endforeach()
