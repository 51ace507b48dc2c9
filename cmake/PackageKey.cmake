# The package key: the ECDSA P-256 public key whose signatures the launcher requires
# on every package it installs. ZORVIK_PACKAGE_KEY names its PEM file; the point is
# read from it here, at configure time, into a generated header, so the file is not
# needed later and a launcher cannot be built against a key that is not P-256.
#
# ZORVIK_TEST_PACKAGE_KEY (the test presets) makes a key pair of the build's own,
# once per build folder: <build>/package-key/private.pem, which the test support signs
# with, and public.pem, which the build then uses.

set(ZORVIK_PACKAGE_KEY "" CACHE FILEPATH
    "PEM file of the ECDSA P-256 public key whose package signatures the launcher requires; empty: none")
option(ZORVIK_TEST_PACKAGE_KEY "Make a package key pair of this build's own in <build>/package-key and use it" OFF)

set(_key_folder "${CMAKE_BINARY_DIR}/package-key")
set(_test_public "${_key_folder}/public.pem")

function(_zorvik_openssl)
  find_program(ZORVIK_OPENSSL openssl)
  if(NOT ZORVIK_OPENSSL)
    message(FATAL_ERROR "The package key needs the openssl command, which was not found")
  endif()
  execute_process(COMMAND "${ZORVIK_OPENSSL}" ${ARGN} RESULT_VARIABLE _result ERROR_VARIABLE _error
                  OUTPUT_QUIET)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "openssl ${ARGN} failed: ${_error}")
  endif()
endfunction()

if(ZORVIK_TEST_PACKAGE_KEY)
  if(NOT ZORVIK_PACKAGE_KEY STREQUAL "" AND NOT ZORVIK_PACKAGE_KEY STREQUAL _test_public)
    message(FATAL_ERROR "ZORVIK_TEST_PACKAGE_KEY builds with the key pair in ${_key_folder}, "
      "but ZORVIK_PACKAGE_KEY names another key (${ZORVIK_PACKAGE_KEY}): the tests would sign with "
      "a key the launcher does not check. Set one of them only.")
  endif()
  # Made once: a new pair at every configure would change the launcher under a test
  # support that still signs with the old one. Both halves are made under other names
  # and renamed together, so an interrupted configure leaves no half of a pair.
  if(NOT EXISTS "${_key_folder}/private.pem" OR NOT EXISTS "${_test_public}")
    file(MAKE_DIRECTORY "${_key_folder}")
    _zorvik_openssl(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "${_key_folder}/private.new")
    _zorvik_openssl(pkey -in "${_key_folder}/private.new" -pubout -out "${_key_folder}/public.new")
    file(RENAME "${_key_folder}/public.new" "${_test_public}")
    file(RENAME "${_key_folder}/private.new" "${_key_folder}/private.pem")
  endif()
  set(ZORVIK_PACKAGE_KEY "${_test_public}" CACHE FILEPATH
      "PEM file of the ECDSA P-256 public key whose package signatures the launcher requires; empty: none" FORCE)
endif()

set(_has_key false)
set(_point "")
if(NOT ZORVIK_PACKAGE_KEY STREQUAL "")
  if(NOT EXISTS "${ZORVIK_PACKAGE_KEY}")
    message(FATAL_ERROR "ZORVIK_PACKAGE_KEY: no such file: ${ZORVIK_PACKAGE_KEY}")
  endif()
  # A changed key file configures again, so the launcher never keeps an old key.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZORVIK_PACKAGE_KEY}")
  set(_der "${CMAKE_BINARY_DIR}/package-key.der")
  _zorvik_openssl(pkey -pubin -in "${ZORVIK_PACKAGE_KEY}" -outform DER -out "${_der}")
  file(READ "${_der}" _hex HEX)
  file(REMOVE "${_der}")
  # SubjectPublicKeyInfo of an uncompressed P-256 point: id-ecPublicKey, prime256v1,
  # then 04 X Y. Any other key, curve or point form is not one the launcher can check.
  set(_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${_hex}" _length)
  string(FIND "${_hex}" "${_prefix}" _at)
  if(NOT _length EQUAL 182 OR NOT _at EQUAL 0)
    message(FATAL_ERROR "ZORVIK_PACKAGE_KEY (${ZORVIK_PACKAGE_KEY}) is not an ECDSA P-256 public key "
      "in PEM form (make one with: openssl pkey -in private.pem -pubout -out public.pem)")
  endif()
  string(SUBSTRING "${_hex}" 54 128 _xy)
  string(REGEX REPLACE "(..)" "0x\\1," _point "${_xy}")
  string(REGEX REPLACE ",$" "" _point "${_point}")
  set(_has_key true)
  message(STATUS "Package key: ${ZORVIK_PACKAGE_KEY}")
else()
  set(_point "0")
  message(STATUS "Package key: none (packages are installed without a signature check)")
endif()

set(ZORVIK_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
# Written only when its content changes: configuring again with the same key rebuilds nothing.
file(CONFIGURE OUTPUT "${ZORVIK_GENERATED_DIR}/PackageKey.h" CONTENT
"#pragma once
// Generated when CMake configures, from ZORVIK_PACKAGE_KEY: the P-256 point of the key
// whose signatures the launcher requires, X then Y. No key: no signature is checked.
inline constexpr bool kHasPackageKey = ${_has_key};
inline constexpr unsigned char kPackageKeyPoint[64] = {${_point}};
")
