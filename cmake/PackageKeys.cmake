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

include(${CMAKE_CURRENT_LIST_DIR}/RsaKeys.cmake)

if(VESK_PACKAGE_PUBLIC_KEY)
  set(_vesk_public_pem ${VESK_PACKAGE_PUBLIC_KEY})
  set(VESK_PACKAGE_SIGNING_KEY ${VESK_PACKAGE_PRIVATE_KEY})
else()
  vesk_development_key_pair(${CMAKE_BINARY_DIR}/package_keys 2048 package VESK_PACKAGE_SIGNING_KEY _vesk_public_pem)
  message(STATUS "Package key: development key pair in ${CMAKE_BINARY_DIR}/package_keys")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vesk_public_pem})
# CALG_RSA_SIGN is 0x2400.
vesk_public_key_blob(${_vesk_public_pem} 2048 0x24 package _vesk_blob)

set(VESK_PACKAGE_KEY_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated/package_key)
file(CONFIGURE OUTPUT ${VESK_PACKAGE_KEY_INCLUDE_DIR}/vesk_package_public_key.inc
     CONTENT "// Generated from ${_vesk_public_pem}; do not edit.\n${_vesk_blob}\n" @ONLY)
