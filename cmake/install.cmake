# Install and package rules for POSIX systems: cmake --install, the CMake
# package (find_package(PellarLib) gives PellarLib::PellarLib), pellar.pc and
# the Debian package built by `cpack -G DEB`. Kept in one file, apart from the
# targets, so the source tree can be rearranged without touching them.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PELLAR_SUMMARY
  "Pellar UFL: report functions for work areas, files, mail, FTP and HTML tables")
set(PELLAR_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
set_target_properties(PellarLib PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PELLAR_SOVERSION}
  EXPORT_NAME PellarLib)
# The public headers: the classes and the automation table, with what they
# include (never the platform or other internals), as include/pellar/LAYER/
# NAME.h: callers and the headers themselves write <pellar/LAYER/NAME.h>,
# with include/ as the one include folder. Paths are under src/.
set(PELLAR_PUBLIC_HEADERS
  base/export.h base/failure.h base/text.h base/value.h
  automation/automation.h ufl/ufl.h workarea/cell.h table/table.h
  mail/email.h files/file.h files/folder.h files/ftp.h)
target_include_directories(PellarLib INTERFACE
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(PellarLib INTERFACE cxx_std_20)

# Everything below installs or packages: only with PELLAR_INSTALL.
if(NOT PELLAR_INSTALL)
  return()
endif()
foreach(header ${PELLAR_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/src/${header}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pellar/${folder})
endforeach()

install(TARGETS PellarLib EXPORT PellarLibTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS pellar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The mail program for Email.SendOutbox, where its libraries were found.
if(TARGET pellar-mail)
  install(TARGETS pellar-mail RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The worksheet program for Cell.SaveWorkSheet, where its libraries were
# found.
if(TARGET pellar-sheet)
  install(TARGETS pellar-sheet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The example report and the stand-in mail program it starts.
install(FILES ${PROJECT_SOURCE_DIR}/examples/report.vbs
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pellar/examples)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/examples/mailer.sh
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pellar/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENCE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The pages the README links to, beside it as in the source tree.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs FILES_MATCHING PATTERN "*.md")

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/PellarLib)
install(EXPORT PellarLibTargets NAMESPACE PellarLib::
        DESTINATION ${config_dir})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/PellarLibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/PellarLibConfig.cmake
  INSTALL_DESTINATION ${config_dir})
# The SONAME changes with the minor version: only the same major.minor is
# compatible.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/PellarLibConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PellarLibConfig.cmake
              ${PROJECT_BINARY_DIR}/PellarLibConfigVersion.cmake
        DESTINATION ${config_dir})

# pellar.pc finds its prefix from its own folder, so it holds for any
# --prefix given at install time.
file(RELATIVE_PATH pc_to_prefix
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/pellar.pc.in
               ${PROJECT_BINARY_DIR}/pellar.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pellar.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# cpack -G DEB: the same files under /usr.
set(CPACK_PACKAGE_NAME pellarlib)
set(CPACK_PACKAGE_VENDOR "Brambleworth Ltd")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PELLAR_SUMMARY})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brambleworth Ltd")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The C and C++ run-time libraries, from the binaries; lftp runs the FTP
# transfers the library's launcher scripts start.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lftp")
include(CPack)
