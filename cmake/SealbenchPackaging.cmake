# Debian packages, one per install component: `cpack -G DEB` in the build tree
# (scripts/package.sh). Dependencies on other Debian packages come from
# dpkg-shlibdeps; those between our own packages pin the exact version.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sealbench)
set(CPACK_PACKAGE_VENDOR "Sealbench")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SEALBENCH_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 2)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SEALBENCH_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Lets dpkg-shlibdeps find libbootwire.so.0 in the package being made beside the programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)

set(components libbootwire0 libbootwire-dev sealbench-cli vireo-sim)
if(TARGET sealbench)
  list(APPEND components sealbench)
endif()
set(CPACK_COMPONENTS_ALL ${components})

function(sealbench_package component section summary description)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${component} PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section} PARENT_SCOPE)
  # The first line is the synopsis; CPack indents the long description for Debian.
  set(CPACK_COMPONENT_${upper}_DESCRIPTION "${summary}\n${description}" PARENT_SCOPE)
endfunction()

sealbench_package(libbootwire0 libs "Vireo boot-ROM protocol library"
  "Bootwire speaks the command protocol of the Vireo processors' boot ROM over a
serial port, a network serial port (RFC 2217 or raw TCP) or USB. It carries
the udev rule that gives the user at the seat access to the USB boot device.")
# A shlibs file for the packages that link the library (only libbootwire0 has a soname).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBBOOTWIRE0_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_LIBBOOTWIRE0_PACKAGE_CONTROL_STRICT_PERMISSION ON)

sealbench_package(libbootwire-dev libdevel "Vireo boot-ROM protocol library (development files)"
  "Bootwire speaks the command protocol of the Vireo processors' boot ROM.
This package holds the header, the CMake package (find_package(Bootwire))
and the pkg-config file (bootwire) to build programs against it.")
set(CPACK_COMPONENT_LIBBOOTWIRE-DEV_DEPENDS libbootwire0)

sealbench_package(sealbench-cli electronics "command line for Vireo boards: load, flash, sign"
  "sealbench-cli talks to the boot ROM of a Vireo processor over serial or USB:
it initialises the external memory, loads and runs images, programs NOR and
NAND flash, and authors secure-boot inputs (CSF, HWC, combined images) and
S-records. Its output suits scripts and CI.")
set(CPACK_COMPONENT_SEALBENCH-CLI_DEPENDS libbootwire0)

sealbench_package(vireo-sim electronics "virtual Vireo board for tests without hardware"
  "vireo-sim answers the Vireo boot-ROM protocol on a pseudo-terminal and a USB
socket, runs the built-in flash libraries on an emulated ARM core against NOR
and NAND flash models, and plays faults on request.")
set(CPACK_DEBIAN_VIREO-SIM_PACKAGE_SUGGESTS "sealbench-cli, umockdev")

if(TARGET sealbench)
  sealbench_package(sealbench electronics "workbench for boards built around Vireo processors"
    "Sealbench is a Qt window that loads images into a Vireo board's RAM and
programs its flash over serial or USB, with progress and a status log.")
  set(CPACK_COMPONENT_SEALBENCH_DEPENDS libbootwire0)
  set(CPACK_DEBIAN_SEALBENCH_PACKAGE_RECOMMENDS "vireo-sim")
endif()

include(CPack)
