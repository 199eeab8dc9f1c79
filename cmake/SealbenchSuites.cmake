# Test suites that need a tool the build cannot make (ser2net, umockdev, labgrid,
# man). A suite whose tool is missing fails the configure with what to install,
# so that no suite is lost without anybody noticing; a machine that cannot have the
# tool names the suite in SEALBENCH_WITHOUT_SUITES to go without it (CI never does).
set(SEALBENCH_WITHOUT_SUITES "" CACHE STRING
    "Test suites to build without when their tools are missing: usb, network, labgrid, docs")

# sealbench_suite(SUITE RESULT NEEDS var... WHY "what is missing and how to get it")
# Sets RESULT to TRUE when every var is true, to FALSE when the suite may go
# without, and stops the configure otherwise.
function(sealbench_suite suite result)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "WHY" "NEEDS")
  foreach(need IN LISTS arg_NEEDS)
    if(NOT ${need})
      if(suite IN_LIST SEALBENCH_WITHOUT_SUITES)
        message(STATUS "Test suite '${suite}' is not built, as asked: ${arg_WHY}")
        set(${result} FALSE PARENT_SCOPE)
        return()
      endif()
      message(FATAL_ERROR "Test suite '${suite}' cannot be built: ${arg_WHY}. Run scripts/install-deps.sh, "
                          "or configure with -DSEALBENCH_WITHOUT_SUITES=${suite} to build without it.")
    endif()
  endforeach()
  set(${result} TRUE PARENT_SCOPE)
endfunction()
