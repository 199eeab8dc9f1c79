# Warning flags shared by every target of the project.
function(sealbench_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow>
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wshadow>
    $<$<BOOL:${SEALBENCH_WERROR}>:-Werror>)
endfunction()

# A toolkit-free core of its folder (the folder's sources, linked to `deps`), with
# its Qt page in qt/ when the Qt window is built and its Win32 page in win32/ when
# the Windows window is. Usage:
#   sealbench_core(NAME sources... LINK deps...)
function(sealbench_core name)
  cmake_parse_arguments(PARSE_ARGV 1 core "" "" "LINK")
  add_library(${name} STATIC ${core_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${core_LINK})
  sealbench_warnings(${name})
  if(SEALBENCH_GUI AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/qt/CMakeLists.txt)
    add_subdirectory(qt)
  endif()
  if(SEALBENCH_WIN32_GUI AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/win32/CMakeLists.txt)
    add_subdirectory(win32)
  endif()
endfunction()
