# Manual pages, section 1, generated with help2man from each program's own
# --help and --version, so that options and exit statuses are written down in
# one place only: the program. man/PROGRAM.h2m adds the name line, prose and
# examples; man/serial-ports.h2m the notes on serial ports for the programs
# that open them, and man/com-ports.h2m how COM1 to COM4 are found for those
# that scan them. The pages land gzipped in the build folder's man/ and install
# into share/man/man1, each with its program's install component (cli or
# desktop: the Debian package that holds the program holds its page).
option(TARNWICK_MAN_PAGES "Generate the manual pages (needs help2man)" ON)
if(NOT TARNWICK_MAN_PAGES OR CMAKE_CROSSCOMPILING)
  return()
endif()
find_program(TARNWICK_HELP2MAN help2man)
find_program(TARNWICK_GZIP gzip)
if(NOT TARNWICK_HELP2MAN OR NOT TARNWICK_GZIP)
  message(STATUS "help2man or gzip not found: no manual pages (scripts/ensure-deps.sh installs help2man)")
  return()
endif()

# Pages dated by the release, not by the build, so that a rebuild gives the same pages.
execute_process(COMMAND date -u -d "${TARNWICK_RELEASE_DATE} 12:00 UTC" +%s
                OUTPUT_VARIABLE release_epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(man_source ${PROJECT_SOURCE_DIR}/man)
set(man_output ${PROJECT_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${man_output})
set(man_pages)

# tarnwick_man_page(TARGET COMPONENT COMPONENT [HELP_OPTION OPTION] [SERIAL_PORTS] [COM_PORTS])
function(tarnwick_man_page target)
  if(NOT TARGET ${target})
    return()
  endif()
  cmake_parse_arguments(PAGE "SERIAL_PORTS;COM_PORTS" "HELP_OPTION;COMPONENT" "" ${ARGN})
  if(NOT PAGE_COMPONENT)
    message(FATAL_ERROR "tarnwick_man_page(${target}): no COMPONENT")
  endif()
  if(NOT PAGE_HELP_OPTION)
    set(PAGE_HELP_OPTION --help)
  endif()
  set(includes --include=${man_source}/${target}.h2m)
  set(depends ${man_source}/${target}.h2m ${man_source}/help-for-manual.sh)
  foreach(notes SERIAL_PORTS COM_PORTS)
    if(PAGE_${notes})
      string(TOLOWER ${notes} file)
      string(REPLACE "_" "-" file ${file})
      list(APPEND includes --include=${man_source}/${file}.h2m)
      list(APPEND depends ${man_source}/${file}.h2m)
    endif()
  endforeach()
  set(page ${man_output}/${target}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${release_epoch}
            ${TARNWICK_HELP2MAN} --no-info --section=1 --manual=${PROJECT_NAME}
            --source=${PROJECT_NAME}\ ${PROJECT_VERSION} ${includes}
            --help-option=${PAGE_HELP_OPTION} --version-option=--version --output=${page}
            "${man_source}/help-for-manual.sh $<TARGET_FILE:${target}>"
    COMMAND ${TARNWICK_GZIP} -9nkf ${page}
    DEPENDS ${target} ${depends}
    COMMENT "Writing the manual page of ${target}"
    VERBATIM)
  set(man_pages ${man_pages} ${page}.gz PARENT_SCOPE)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${PAGE_COMPONENT})
endfunction()

tarnwick_man_page(tarnwick COMPONENT desktop SERIAL_PORTS COM_PORTS)
tarnwick_man_page(tarnwick-demo COMPONENT desktop SERIAL_PORTS COM_PORTS)
tarnwick_man_page(tarnwick-cli COMPONENT cli HELP_OPTION --help-all SERIAL_PORTS COM_PORTS)
tarnwick_man_page(tarnwick-device COMPONENT cli SERIAL_PORTS)
tarnwick_man_page(tarnwick-pack COMPONENT cli)
add_custom_target(tarnwick_man_pages ALL DEPENDS ${man_pages})
