# The package verification key.
#
# Packages are verified against one RSA public key compiled into the core as a
# 276-byte public-key blob (type 6, version 2, CALG_RSA_SIGN, "RSA1", bit
# length, exponent, modulus least significant byte first).
#
#   VESK_PACKAGE_PUBLIC_KEY   PEM with the RSA public key of the release
#                             signing key. Empty: a development key pair is
#                             generated inside the build tree.
#   VESK_PACKAGE_PRIVATE_KEY  PEM with the matching private key, used only to
#                             sign the sample packages of this build. Never
#                             installed; with a release public key and no
#                             private key the sample packages are not built.
#
# Results for the rest of the build:
#   VESK_PACKAGE_KEY_INCLUDE_DIR  holds vesk_package_public_key.inc
#   VESK_PACKAGE_SIGNING_KEY      private key for the sample packages, or empty
set(VESK_PACKAGE_PUBLIC_KEY "" CACHE FILEPATH "PEM file with the RSA public key that verifies packages")
set(VESK_PACKAGE_PRIVATE_KEY "" CACHE FILEPATH "PEM file with the private key that signs the sample packages")

find_program(VESK_OPENSSL_PROGRAM openssl REQUIRED)
set(_vesk_key_dir ${CMAKE_BINARY_DIR}/package_keys)

if(VESK_PACKAGE_PUBLIC_KEY)
  set(_vesk_public_pem ${VESK_PACKAGE_PUBLIC_KEY})
  set(VESK_PACKAGE_SIGNING_KEY ${VESK_PACKAGE_PRIVATE_KEY})
else()
  # Development keys live only in the build tree (ignored by git, never
  # installed). Generated once; a fresh build directory gets a fresh pair.
  set(_vesk_private_pem ${_vesk_key_dir}/development_private.pem)
  set(_vesk_public_pem ${_vesk_key_dir}/development_public.pem)
  if(NOT EXISTS ${_vesk_private_pem})
    file(MAKE_DIRECTORY ${_vesk_key_dir})
    file(CHMOD ${_vesk_key_dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    execute_process(
      COMMAND ${VESK_OPENSSL_PROGRAM} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048
              -pkeyopt rsa_keygen_pubexp:65537 -out ${_vesk_private_pem}.tmp
      RESULT_VARIABLE _vesk_rc OUTPUT_QUIET ERROR_VARIABLE _vesk_err)
    if(NOT _vesk_rc EQUAL 0)
      message(FATAL_ERROR "Cannot generate the development package key: ${_vesk_err}")
    endif()
    file(CHMOD ${_vesk_private_pem}.tmp PERMISSIONS OWNER_READ OWNER_WRITE)
    file(RENAME ${_vesk_private_pem}.tmp ${_vesk_private_pem})
    file(REMOVE ${_vesk_public_pem})
  endif()
  if(NOT EXISTS ${_vesk_public_pem})
    execute_process(
      COMMAND ${VESK_OPENSSL_PROGRAM} pkey -in ${_vesk_private_pem} -pubout -out ${_vesk_public_pem}
      RESULT_VARIABLE _vesk_rc ERROR_VARIABLE _vesk_err)
    if(NOT _vesk_rc EQUAL 0)
      message(FATAL_ERROR "Cannot derive the development public key: ${_vesk_err}")
    endif()
  endif()
  set(VESK_PACKAGE_SIGNING_KEY ${_vesk_private_pem})
  message(STATUS "Package key: development key pair in ${_vesk_key_dir}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vesk_public_pem})

# The modulus and exponent of the public key, as the openssl tool prints them.
execute_process(
  COMMAND ${VESK_OPENSSL_PROGRAM} rsa -pubin -in ${_vesk_public_pem} -noout -modulus
  RESULT_VARIABLE _vesk_rc OUTPUT_VARIABLE _vesk_modulus ERROR_VARIABLE _vesk_err)
if(NOT _vesk_rc EQUAL 0 OR NOT _vesk_modulus MATCHES "^Modulus=([0-9A-F]+)")
  message(FATAL_ERROR "${_vesk_public_pem} is not an RSA public key: ${_vesk_err}")
endif()
set(_vesk_modulus_hex ${CMAKE_MATCH_1})
string(LENGTH "${_vesk_modulus_hex}" _vesk_hex_length)
if(NOT _vesk_hex_length EQUAL 512 OR _vesk_modulus_hex MATCHES "^[0-7]")
  message(FATAL_ERROR "The package key must be a 2048-bit RSA key (${_vesk_public_pem})")
endif()
execute_process(
  COMMAND ${VESK_OPENSSL_PROGRAM} rsa -pubin -in ${_vesk_public_pem} -noout -text
  RESULT_VARIABLE _vesk_rc OUTPUT_VARIABLE _vesk_text)
if(NOT _vesk_text MATCHES "Exponent: ([0-9]+)")
  message(FATAL_ERROR "Cannot read the exponent of ${_vesk_public_pem}")
endif()
set(_vesk_exponent ${CMAKE_MATCH_1})
if(_vesk_exponent GREATER 4294967295 OR _vesk_exponent LESS 3)
  message(FATAL_ERROR "The package key's exponent must fit 32 bits")
endif()

# Blob header, then the modulus least significant byte first.
set(_vesk_blob "0x06, 0x02, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0x52, 0x53, 0x41, 0x31,\n  0x00, 0x08, 0x00, 0x00,")
foreach(_vesk_shift 0 8 16 24)
  math(EXPR _vesk_byte "(${_vesk_exponent} >> ${_vesk_shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
  string(APPEND _vesk_blob " ${_vesk_byte},")
endforeach()
string(APPEND _vesk_blob "\n ")
foreach(_vesk_index RANGE 255 0 -1)
  math(EXPR _vesk_offset "${_vesk_index} * 2")
  string(SUBSTRING "${_vesk_modulus_hex}" ${_vesk_offset} 2 _vesk_pair)
  string(APPEND _vesk_blob " 0x${_vesk_pair},")
  math(EXPR _vesk_column "${_vesk_index} % 12")
  if(_vesk_column EQUAL 0)
    string(APPEND _vesk_blob "\n ")
  endif()
endforeach()

set(VESK_PACKAGE_KEY_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated/package_key)
file(CONFIGURE OUTPUT ${VESK_PACKAGE_KEY_INCLUDE_DIR}/vesk_package_public_key.inc
     CONTENT "// Generated from ${_vesk_public_pem}; do not edit.\n${_vesk_blob}\n" @ONLY)
