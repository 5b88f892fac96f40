cmake_minimum_required(VERSION 3.25)
# Fails when a file of the engine includes a header that is not the standard
# library's or the engine's own.
file(GLOB engine_files "${ENGINE_DIR}/*.h" "${ENGINE_DIR}/*.cpp")
file(GLOB own_headers RELATIVE "${ENGINE_DIR}" "${ENGINE_DIR}/*.h")
list(APPEND own_headers "image_key.inc")
set(standard_headers
  algorithm array atomic bit cassert cctype cerrno chrono cinttypes climits cmath compare
  concepts cstddef cstdint cstdio cstdlib cstring filesystem functional initializer_list
  iterator limits memory new numeric optional ratio span string string_view system_error
  tuple type_traits utility variant)
set(bad "")
foreach(file IN LISTS engine_files)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
      set(header "${CMAKE_MATCH_1}")
      if(NOT header IN_LIST standard_headers AND NOT header IN_LIST own_headers)
        list(APPEND bad "${file}: ${header}")
      endif()
    endif()
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "The engine includes headers outside the standard library:\n  ${text}")
endif()
message(STATUS "engine headers: standard library only")
