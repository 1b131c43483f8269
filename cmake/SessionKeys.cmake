# The session-key wrapping key and the access-key vector.
#
# window.security wraps page-made session keys with an RSA public key of the
# counterpart that receives them (1024 bits, embedded as a 148-byte public-key
# blob: type 6, version 2, CALG_RSA_KEYX 0xA400, "RSA1", bit length, exponent,
# modulus least significant byte first) and encrypts access keys with a fixed
# 16-byte vector agreed with that counterpart.
#
#   VESK_SESSION_PUBLIC_KEY  PEM with the counterpart's RSA public key. Empty:
#                            a development key pair is generated inside the
#                            build tree (never installed).
#   VESK_ACCESS_KEY_IV       the vector as 32 hexadecimal digits. Empty: a
#                            fixed development vector.
#
# Results for the rest of the build:
#   VESK_SESSION_KEY_INCLUDE_DIR  holds vesk_session_public_key.inc and
#                                 vesk_access_key_iv.inc
#   VESK_SESSION_PRIVATE_KEY      the development private key, or empty
#   VESK_SESSION_KEY_DIR          build-tree directory with
#                                 development_private.pem (development keys
#                                 only) and access_key_iv.hex, for the tests
set(VESK_SESSION_PUBLIC_KEY "" CACHE FILEPATH "PEM file with the RSA public key that wraps session keys")
set(VESK_ACCESS_KEY_IV "" CACHE STRING "The access-key initialisation vector as 32 hexadecimal digits")

find_program(VESK_OPENSSL_PROGRAM openssl REQUIRED)
set(VESK_SESSION_KEY_DIR ${CMAKE_BINARY_DIR}/session_keys)
file(MAKE_DIRECTORY ${VESK_SESSION_KEY_DIR})

if(VESK_SESSION_PUBLIC_KEY)
  set(_vesk_session_public_pem ${VESK_SESSION_PUBLIC_KEY})
  set(VESK_SESSION_PRIVATE_KEY "")
  file(REMOVE ${VESK_SESSION_KEY_DIR}/development_private.pem)
else()
  # Generated once per build directory; the private half stays here so the
  # tests can unwrap what the program wrapped.
  set(_vesk_session_private_pem ${VESK_SESSION_KEY_DIR}/development_private.pem)
  set(_vesk_session_public_pem ${VESK_SESSION_KEY_DIR}/development_public.pem)
  if(NOT EXISTS ${_vesk_session_private_pem})
    file(CHMOD ${VESK_SESSION_KEY_DIR} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    execute_process(
      COMMAND ${VESK_OPENSSL_PROGRAM} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024
              -pkeyopt rsa_keygen_pubexp:65537 -out ${_vesk_session_private_pem}.tmp
      RESULT_VARIABLE _vesk_rc OUTPUT_QUIET ERROR_VARIABLE _vesk_err)
    if(NOT _vesk_rc EQUAL 0)
      message(FATAL_ERROR "Cannot generate the development session key: ${_vesk_err}")
    endif()
    file(CHMOD ${_vesk_session_private_pem}.tmp PERMISSIONS OWNER_READ OWNER_WRITE)
    file(RENAME ${_vesk_session_private_pem}.tmp ${_vesk_session_private_pem})
    file(REMOVE ${_vesk_session_public_pem})
  endif()
  if(NOT EXISTS ${_vesk_session_public_pem})
    execute_process(
      COMMAND ${VESK_OPENSSL_PROGRAM} pkey -in ${_vesk_session_private_pem} -pubout -out ${_vesk_session_public_pem}
      RESULT_VARIABLE _vesk_rc ERROR_VARIABLE _vesk_err)
    if(NOT _vesk_rc EQUAL 0)
      message(FATAL_ERROR "Cannot derive the development session public key: ${_vesk_err}")
    endif()
  endif()
  set(VESK_SESSION_PRIVATE_KEY ${_vesk_session_private_pem})
  message(STATUS "Session key: development key pair in ${VESK_SESSION_KEY_DIR}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vesk_session_public_pem})

execute_process(
  COMMAND ${VESK_OPENSSL_PROGRAM} rsa -pubin -in ${_vesk_session_public_pem} -noout -modulus
  RESULT_VARIABLE _vesk_rc OUTPUT_VARIABLE _vesk_modulus ERROR_VARIABLE _vesk_err)
if(NOT _vesk_rc EQUAL 0 OR NOT _vesk_modulus MATCHES "^Modulus=([0-9A-F]+)")
  message(FATAL_ERROR "${_vesk_session_public_pem} is not an RSA public key: ${_vesk_err}")
endif()
set(_vesk_modulus_hex ${CMAKE_MATCH_1})
string(LENGTH "${_vesk_modulus_hex}" _vesk_hex_length)
if(NOT _vesk_hex_length EQUAL 256 OR _vesk_modulus_hex MATCHES "^[0-7]")
  message(FATAL_ERROR "The session key must be a 1024-bit RSA key (${_vesk_session_public_pem})")
endif()
execute_process(
  COMMAND ${VESK_OPENSSL_PROGRAM} rsa -pubin -in ${_vesk_session_public_pem} -noout -text
  RESULT_VARIABLE _vesk_rc OUTPUT_VARIABLE _vesk_text)
if(NOT _vesk_text MATCHES "Exponent: ([0-9]+)")
  message(FATAL_ERROR "Cannot read the exponent of ${_vesk_session_public_pem}")
endif()
set(_vesk_exponent ${CMAKE_MATCH_1})
if(_vesk_exponent GREATER 4294967295 OR _vesk_exponent LESS 3)
  message(FATAL_ERROR "The session key's exponent must fit 32 bits")
endif()

# Blob header (CALG_RSA_KEYX, 1024 bits), then the modulus least significant
# byte first.
set(_vesk_blob "0x06, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 0x52, 0x53, 0x41, 0x31,\n  0x00, 0x04, 0x00, 0x00,")
foreach(_vesk_shift 0 8 16 24)
  math(EXPR _vesk_byte "(${_vesk_exponent} >> ${_vesk_shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
  string(APPEND _vesk_blob " ${_vesk_byte},")
endforeach()
string(APPEND _vesk_blob "\n ")
foreach(_vesk_index RANGE 127 0 -1)
  math(EXPR _vesk_offset "${_vesk_index} * 2")
  string(SUBSTRING "${_vesk_modulus_hex}" ${_vesk_offset} 2 _vesk_pair)
  string(APPEND _vesk_blob " 0x${_vesk_pair},")
  math(EXPR _vesk_column "${_vesk_index} % 12")
  if(_vesk_column EQUAL 0)
    string(APPEND _vesk_blob "\n ")
  endif()
endforeach()

# The vector: 16 bytes in order, kept as four 32-bit constants whose
# little-endian bytes give it back.
if(VESK_ACCESS_KEY_IV)
  set(_vesk_iv ${VESK_ACCESS_KEY_IV})
else()
  set(_vesk_iv "5c1e0f3a96d24b7e8a0c71f2e49b36d5")
endif()
if(NOT _vesk_iv MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "VESK_ACCESS_KEY_IV must be 32 hexadecimal digits")
endif()
string(LENGTH "${_vesk_iv}" _vesk_iv_length)
if(NOT _vesk_iv_length EQUAL 32)
  message(FATAL_ERROR "VESK_ACCESS_KEY_IV must be 32 hexadecimal digits")
endif()
string(TOLOWER "${_vesk_iv}" _vesk_iv)
set(_vesk_iv_words "")
foreach(_vesk_word 0 1 2 3)
  set(_vesk_value "0x")
  foreach(_vesk_byte_index 3 2 1 0)
    math(EXPR _vesk_offset "(${_vesk_word} * 4 + ${_vesk_byte_index}) * 2")
    string(SUBSTRING "${_vesk_iv}" ${_vesk_offset} 2 _vesk_pair)
    string(APPEND _vesk_value "${_vesk_pair}")
  endforeach()
  string(APPEND _vesk_iv_words "${_vesk_value}u, ")
endforeach()

set(VESK_SESSION_KEY_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated/session_key)
file(CONFIGURE OUTPUT ${VESK_SESSION_KEY_INCLUDE_DIR}/vesk_session_public_key.inc
     CONTENT "// Generated from ${_vesk_session_public_pem}; do not edit.\n${_vesk_blob}\n" @ONLY)
file(CONFIGURE OUTPUT ${VESK_SESSION_KEY_INCLUDE_DIR}/vesk_access_key_iv.inc
     CONTENT "// Generated by cmake/SessionKeys.cmake; do not edit.\n${_vesk_iv_words}\n" @ONLY)
file(CONFIGURE OUTPUT ${VESK_SESSION_KEY_DIR}/access_key_iv.hex CONTENT "${_vesk_iv}\n" @ONLY)
