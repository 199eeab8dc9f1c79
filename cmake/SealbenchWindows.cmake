# What the Windows cross build takes from the build machine instead of packages
# for the target: CLI11's and toml++'s headers (header-only, so the host's copy
# serves) and GoogleTest compiled from Debian's source package.

# Windows 10 API level; no min/max macros to trip over std::min.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN)
# The file tools open files the POSIX way, always with O_CLOEXEC. On Windows such a
# descriptor must also be binary: the C runtime's default text mode would turn
# CR LF into LF and end an image at its first 0x1A byte.
# (C and C++ only: the resource compiler hands definitions to a shell.)
add_compile_definitions("$<$<COMPILE_LANGUAGE:C,CXX>:O_CLOEXEC=(_O_NOINHERIT|_O_BINARY)>")
# Opening a FIFO without blocking, so that it can be refused, has no meaning there.
add_compile_definitions("$<$<COMPILE_LANGUAGE:C,CXX>:O_NONBLOCK=0>")

# Only the CLI folder: the host's /usr/include as a whole would hide the
# cross compiler's own C library headers.
set(sealbench_cli11_root ${CMAKE_BINARY_DIR}/host-headers)
find_path(SEALBENCH_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH REQUIRED)
file(MAKE_DIRECTORY ${sealbench_cli11_root})
file(CREATE_LINK ${SEALBENCH_CLI11_DIR}/CLI ${sealbench_cli11_root}/CLI SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${sealbench_cli11_root})
# toml++ the same way: Debian's build is a Linux library, but its headers are the
# whole parser when compiled header-only.
find_path(SEALBENCH_TOMLPP_DIR toml++/toml.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH REQUIRED)
file(CREATE_LINK ${SEALBENCH_TOMLPP_DIR}/toml++ ${sealbench_cli11_root}/toml++ SYMBOLIC)
add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
target_include_directories(tomlplusplus::tomlplusplus SYSTEM INTERFACE ${sealbench_cli11_root})
target_compile_definitions(tomlplusplus::tomlplusplus INTERFACE TOML_HEADER_ONLY=1)

if(BUILD_TESTING)
  set(SEALBENCH_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
  if(NOT EXISTS ${SEALBENCH_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources at ${SEALBENCH_GOOGLETEST_SOURCE} (Debian: apt install googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${SEALBENCH_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # GTest::gtest_main gets a main that leaves out the tests which start Linux tools.
  set_property(TARGET gtest_main PROPERTY SOURCES ${PROJECT_SOURCE_DIR}/tests/windows/gtest_main_windows.cpp)
  # Test lists are read under Wine when the tests run, not while building.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()

# Every program gets a manifest that makes UTF-8 its ANSI code page, so that
# arguments and file names keep any character: the code works in UTF-8 throughout.
# Called at the end of the top-level CMakeLists.txt, once every target exists.
enable_language(RC)
set(SEALBENCH_MANIFEST ${PROJECT_SOURCE_DIR}/packaging/windows/utf8.manifest)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/utf8-manifest.rc.in ${CMAKE_BINARY_DIR}/utf8-manifest.rc @ONLY)
# Programs with windows carry one manifest of their own that also asks for the
# common controls 6 and per-monitor DPI awareness (a program takes one manifest only).
set(SEALBENCH_MANIFEST ${PROJECT_SOURCE_DIR}/packaging/windows/window.manifest)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/utf8-manifest.rc.in ${CMAKE_BINARY_DIR}/window-manifest.rc @ONLY)
function(sealbench_windows_manifests dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(own ${target} SEALBENCH_OWN_MANIFEST)
    if(type STREQUAL "EXECUTABLE" AND NOT own)
      target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/utf8-manifest.rc)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    sealbench_windows_manifests(${subdir})
  endforeach()
endfunction()

# zlib (fast serial flashing compresses with it) from Debian's mingw-w64 build, linked
# in statically so that the programs still need no DLL beside them.
set(ZLIB_USE_STATIC_LIBS ON)
