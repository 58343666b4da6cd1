# Debian packages from the install's components, made by `cpack -G DEB` in the build directory
# (scripts/package.sh): libquorvane<soname> (the shared library), libquorvane-dev (headers, CMake
# package, pkg-config file, quorvane(3)) and quorvane (the viewer, the tools, their pages,
# completion, desktop entry, icons and AppStream file, and the Python module). Dependencies come
# from dpkg-shlibdeps; the library package says what it provides in its shlibs file.
set(QUORVANE_DEB_RELEASE 1)
set(QUORVANE_DEB_VERSION ${PROJECT_VERSION}-${QUORVANE_DEB_RELEASE})
set(QUORVANE_DEB_MAINTAINER "Quorvane developers <maintainers@quorvane.org>")
set(QUORVANE_DEB_LIBRARY libquorvane${PROJECT_VERSION_MAJOR})
set(QUORVANE_DEB_PACKAGES runtime:${QUORVANE_DEB_LIBRARY} dev:libquorvane-dev programs:quorvane)

# Each package's /usr/share/doc/PACKAGE/copyright and changelog.Debian.gz. EXCLUDE_FROM_ALL: a
# component's install (as CPack runs it) gets them, a plain `cmake --install` does not.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in
  ${CMAKE_BINARY_DIR}/debian/copyright COPYONLY)
file(READ ${QUORVANE_ROOT}/LICENSE license)
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" license "${license}")
string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" license "${license}")
file(APPEND ${CMAKE_BINARY_DIR}/debian/copyright "\nLicense: Expat\n ${license}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
  ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
execute_process(COMMAND ${QUORVANE_GZIP} -9nf ${CMAKE_BINARY_DIR}/debian/changelog.Debian
  COMMAND_ERROR_IS_FATAL ANY)
foreach(package ${QUORVANE_DEB_PACKAGES})
  string(REPLACE ":" ";" package ${package})
  list(GET package 0 component)
  list(GET package 1 name)
  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${name} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "The Quorvane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev programs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUORVANE_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVANE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/quorvane/quorvane")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# quorvane-demo links the library of its sibling package, staged beside this one, where
# dpkg-shlibdeps (run in a component's staging directory) finds it; the dependency on it is
# written out below, as dpkg-shlibdeps knows no package of it yet.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../runtime/usr/${CMAKE_INSTALL_LIBDIR})
# In /usr the library is on the linker's path: the package's quorvane-demo needs no RPATH.
install(CODE "file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quorvane-demo\")"
  COMPONENT programs EXCLUDE_FROM_ALL)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QUORVANE_DEB_LIBRARY})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "trace records from running programs to Quorvane - library
libquorvane posts fixed-size trace records (entry name, text, origin, call
depth, sender, time) into a named mailbox in shared memory, which the Quorvane
viewer and quorvane-tail drain and show as indented lines.

This package holds the shared library that traced programs link.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquorvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${QUORVANE_DEB_LIBRARY} (= ${QUORVANE_DEB_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "trace records from running programs to Quorvane - development files
libquorvane posts fixed-size trace records (entry name, text, origin, call
depth, sender, time) into a named mailbox in shared memory, which the Quorvane
viewer and quorvane-tail drain and show as indented lines.

This package holds the C and C++ headers, the CMake package
(Quorvane::quorvane), the pkg-config file and the quorvane(3) manual page.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME quorvane)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${QUORVANE_DEB_LIBRARY} (= ${QUORVANE_DEB_VERSION})")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS "python3")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/prerm)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION "viewer and tools for the trace records of running programs
Quorvane shows what programs are doing while they run: a traced program posts
records into a mailbox in shared memory, and the viewer shows them as
numbered lines indented by each thread's call depth, with find, filters,
folding, durations, saving and JSON export.

This package holds the viewer (quorvane-viewer), quorvane-tail (the records on
a terminal, filtered, coloured or as JSON), quorvane-send (tracing from shell
scripts), quorvane-forward (traces through syslog), quorvane-relp (traces
from other machines over RELP with TLS), quorvane-rsyslog-setup (the rsyslog
configuration of a traced machine), quorvane-demo, and the Python module
quorvane.")

include(CPack)
