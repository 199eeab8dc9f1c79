# Warning flags shared by every target of the project.
function(sealbench_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow>
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wshadow>
    $<$<BOOL:${SEALBENCH_WERROR}>:-Werror>)
endfunction()
