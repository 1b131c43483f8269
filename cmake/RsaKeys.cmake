# RSA keys that the build embeds, shared by the package key and the session
# key.
find_program(VESK_OPENSSL_PROGRAM openssl REQUIRED)

# vesk_development_key_pair(<dir> <bits> <what> <private out> <public out>)
# A key pair generated once inside the build tree (<dir>, mode 0700; never
# installed, never committed); a fresh build directory gets a fresh pair.
function(vesk_development_key_pair dir bits what private_out public_out)
  set(private_pem ${dir}/development_private.pem)
  set(public_pem ${dir}/development_public.pem)
  file(MAKE_DIRECTORY ${dir})
  if(NOT EXISTS ${private_pem})
    file(CHMOD ${dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    execute_process(
      COMMAND ${VESK_OPENSSL_PROGRAM} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:${bits}
              -pkeyopt rsa_keygen_pubexp:65537 -out ${private_pem}.tmp
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Cannot generate the development ${what} key: ${err}")
    endif()
    file(CHMOD ${private_pem}.tmp PERMISSIONS OWNER_READ OWNER_WRITE)
    file(RENAME ${private_pem}.tmp ${private_pem})
    file(REMOVE ${public_pem})
  endif()
  if(NOT EXISTS ${public_pem})
    execute_process(
      COMMAND ${VESK_OPENSSL_PROGRAM} pkey -in ${private_pem} -pubout -out ${public_pem}
      RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Cannot derive the development ${what} public key: ${err}")
    endif()
  endif()
  set(${private_out} ${private_pem} PARENT_SCOPE)
  set(${public_out} ${public_pem} PARENT_SCOPE)
endfunction()

# vesk_public_key_blob(<public pem> <bits> <algorithm byte> <what> <out>)
# The key as the initializer of a public-key blob: type 6, version 2, the
# algorithm (0x00 <algorithm byte> 0x00 0x00), "RSA1", the bit length and the
# exponent little-endian, then the modulus least significant byte first.
function(vesk_public_key_blob public_pem bits algorithm_byte what out)
  execute_process(
    COMMAND ${VESK_OPENSSL_PROGRAM} rsa -pubin -in ${public_pem} -noout -modulus
    RESULT_VARIABLE rc OUTPUT_VARIABLE modulus ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT modulus MATCHES "^Modulus=([0-9A-F]+)")
    message(FATAL_ERROR "${public_pem} is not an RSA public key: ${err}")
  endif()
  set(modulus_hex ${CMAKE_MATCH_1})
  math(EXPR hex_digits "${bits} / 4")
  string(LENGTH "${modulus_hex}" hex_length)
  if(NOT hex_length EQUAL hex_digits OR modulus_hex MATCHES "^[0-7]")
    message(FATAL_ERROR "The ${what} key must be a ${bits}-bit RSA key (${public_pem})")
  endif()
  execute_process(
    COMMAND ${VESK_OPENSSL_PROGRAM} rsa -pubin -in ${public_pem} -noout -text
    RESULT_VARIABLE rc OUTPUT_VARIABLE text)
  if(NOT text MATCHES "Exponent: ([0-9]+)")
    message(FATAL_ERROR "Cannot read the exponent of ${public_pem}")
  endif()
  set(exponent ${CMAKE_MATCH_1})
  if(exponent GREATER 4294967295 OR exponent LESS 3)
    message(FATAL_ERROR "The ${what} key's exponent must fit 32 bits")
  endif()
  set(blob "0x06, 0x02, 0x00, 0x00, 0x00, ${algorithm_byte}, 0x00, 0x00, 0x52, 0x53, 0x41, 0x31,\n ")
  foreach(shift 0 8 16 24)
    math(EXPR byte "(${bits} >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND blob " ${byte},")
  endforeach()
  foreach(shift 0 8 16 24)
    math(EXPR byte "(${exponent} >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND blob " ${byte},")
  endforeach()
  string(APPEND blob "\n ")
  math(EXPR last_index "${bits} / 8 - 1")
  foreach(index RANGE ${last_index} 0 -1)
    math(EXPR offset "${index} * 2")
    string(SUBSTRING "${modulus_hex}" ${offset} 2 pair)
    string(APPEND blob " 0x${pair},")
    math(EXPR column "${index} % 12")
    if(column EQUAL 0)
      string(APPEND blob "\n ")
    endif()
  endforeach()
  set(${out} "${blob}" PARENT_SCOPE)
endfunction()
