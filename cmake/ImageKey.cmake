# The descrambling key of .UPL image files is a build-time constant of the product.
# A builder whose images were scrambled with another key passes it as 100 hex digits:
#   cmake --preset default -DTARNWICK_IMAGE_KEY=<100 hex digits>
set(TARNWICK_IMAGE_KEY
    "DDCE8A1BECB6916E36151505DE388F95FEA864420189915404061C507064260DE0450F915850CAD59CFD07490FB4468BF309"
    CACHE STRING "Image descrambling key: 50 bytes as 100 hexadecimal digits")

string(LENGTH "${TARNWICK_IMAGE_KEY}" _key_length)
if(NOT _key_length EQUAL 100)
  message(FATAL_ERROR
    "TARNWICK_IMAGE_KEY must be exactly 100 hexadecimal digits (50 bytes); it has ${_key_length} characters.")
endif()
if(NOT TARNWICK_IMAGE_KEY MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "TARNWICK_IMAGE_KEY may hold only the hexadecimal digits 0-9 and A-F.")
endif()

# Turn "DDCE8A..." into "0xDD, 0xCE, 0x8A, ..." for the generated source.
string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1, " TARNWICK_IMAGE_KEY_BYTES "${TARNWICK_IMAGE_KEY}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/image_key.inc.in
               ${CMAKE_BINARY_DIR}/generated/image_key.inc @ONLY)
