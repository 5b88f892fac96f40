# CLI11, the command-line parser of every program: tarnwick_cli11 is the
# target they link.
#
# CLI11 is header-only. Native builds find it through its CMake package; the
# cross builds take the same headers through a folder of their own, so that
# the build machine's other system headers stay out of the Windows build.
if(CMAKE_CROSSCOMPILING)
  find_path(TARNWICK_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH REQUIRED)
  set(cli11_include ${PROJECT_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${cli11_include})
  file(CREATE_LINK ${TARNWICK_CLI11_DIR}/CLI ${cli11_include}/CLI SYMBOLIC)
  add_library(tarnwick_cli11 INTERFACE)
  target_include_directories(tarnwick_cli11 SYSTEM INTERFACE ${cli11_include})
else()
  find_package(CLI11 REQUIRED)
  add_library(tarnwick_cli11 INTERFACE)
  target_link_libraries(tarnwick_cli11 INTERFACE CLI11::CLI11)
endif()
