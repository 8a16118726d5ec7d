# pellar_man_page(TARGET [DESCRIPTION TEXT]): the manual page TARGET.1 of
# an installed program, generated at build time by help2man from the
# program's own --help (so the two cannot drift apart) and installed under
# share/man/man1 (and so in the .deb). DESCRIPTION is the page's one-line
# NAME text. Skipped in cross builds, whose programs cannot run here, when
# help2man is missing (Debian package help2man), and without PELLAR_INSTALL
# (nothing would install the page).
include(GNUInstallDirs)
find_program(PELLAR_HELP2MAN help2man)
if(NOT PELLAR_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  message(STATUS "Manual pages are not built: help2man is missing")
endif()

function(pellar_man_page target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION" "")
  if(CMAKE_CROSSCOMPILING OR NOT PELLAR_HELP2MAN OR NOT PELLAR_INSTALL)
    return()
  endif()
  if(NOT arg_DESCRIPTION)
    set(arg_DESCRIPTION "${target} of PellarLib")
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${PELLAR_HELP2MAN} --no-info --no-discard-stderr
            --name=${arg_DESCRIPTION}
            --version-string=${PROJECT_VERSION}
            --output=${page} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Writing the manual page ${target}.1 from ${target} --help"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page})
  if(NOT WIN32)
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endfunction()
