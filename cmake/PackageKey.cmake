# The package keys: the ECDSA P-256 public keys whose signatures the launcher requires
# on every answer it acts on. ZORVIK_PACKAGE_KEY names one PEM file, or two as a CMake
# list (the key in use and the next one, so launchers in the field accept the next key
# before it signs anything); a signature by either verifies. NONE, or the empty value
# outside a release, builds without a key. Each point is read here, at configure
# time, into a generated header, so the files are not needed later and a launcher
# cannot be built against a key that is not P-256. Relative paths are taken from the
# source folder.
#
# ZORVIK_TEST_PACKAGE_KEY (the test presets) makes two key pairs of the build's own,
# once per build folder: <build>/package-key/private.pem and public.pem, which the
# test support signs with, and next-private.pem and next-public.pem, the second key;
# the build then uses both public halves.

set(ZORVIK_PACKAGE_KEY "" CACHE STRING
    "PEM file(s) of the ECDSA P-256 public key(s), at most two, whose package signatures the launcher requires; NONE: none")
option(ZORVIK_TEST_PACKAGE_KEY "Make package key pairs of this build's own in <build>/package-key and use them" OFF)

set(_key_folder "${CMAKE_BINARY_DIR}/package-key")
set(_test_keys "${_key_folder}/public.pem;${_key_folder}/next-public.pem")

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

# Made once: a new pair at every configure would change the launcher under a test
# support that still signs with the old one. Both halves are made under other names
# and renamed together, so an interrupted configure leaves no half of a pair.
function(_zorvik_test_key_pair private public)
  if(NOT EXISTS "${_key_folder}/${private}" OR NOT EXISTS "${_key_folder}/${public}")
    file(MAKE_DIRECTORY "${_key_folder}")
    _zorvik_openssl(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "${_key_folder}/${private}.new")
    _zorvik_openssl(pkey -in "${_key_folder}/${private}.new" -pubout -out "${_key_folder}/${public}.new")
    file(RENAME "${_key_folder}/${public}.new" "${_key_folder}/${public}")
    file(RENAME "${_key_folder}/${private}.new" "${_key_folder}/${private}")
  endif()
endfunction()

if(ZORVIK_TEST_PACKAGE_KEY)
  if(NOT ZORVIK_PACKAGE_KEY STREQUAL "" AND NOT ZORVIK_PACKAGE_KEY STREQUAL "${_test_keys}"
     AND NOT ZORVIK_PACKAGE_KEY STREQUAL "${_key_folder}/public.pem")
    message(FATAL_ERROR "ZORVIK_TEST_PACKAGE_KEY builds with the key pairs in ${_key_folder}, "
      "but ZORVIK_PACKAGE_KEY names other keys (${ZORVIK_PACKAGE_KEY}): the tests would sign with "
      "a key the launcher does not check. Set one of them only.")
  endif()
  _zorvik_test_key_pair(private.pem public.pem)
  _zorvik_test_key_pair(next-private.pem next-public.pem)
  set(ZORVIK_PACKAGE_KEY "${_test_keys}" CACHE STRING
      "PEM file(s) of the ECDSA P-256 public key(s), at most two, whose package signatures the launcher requires; NONE: none"
      FORCE)
endif()

# A release must say which keys it checks, or that it checks none: a launcher built
# without a key installs whatever its gateway names.
if(ZORVIK_RELEASE AND ZORVIK_PACKAGE_KEY STREQUAL "")
  message(FATAL_ERROR "A release build needs its package key: configure it with "
    "-DZORVIK_PACKAGE_KEY=<public.pem> (or <public.pem>;<next-public.pem>), or with "
    "-DZORVIK_PACKAGE_KEY=NONE for a launcher that installs unsigned packages")
endif()

set(_keys "${ZORVIK_PACKAGE_KEY}")
if(_keys STREQUAL "NONE")
  set(_keys "")
endif()
list(LENGTH _keys _key_count)
if(_key_count GREATER 2)
  message(FATAL_ERROR "ZORVIK_PACKAGE_KEY names ${_key_count} keys (${ZORVIK_PACKAGE_KEY}); "
    "a launcher takes at most two: the key in use and the next one")
endif()

set(_points "")
foreach(_key IN LISTS _keys)
  get_filename_component(_key "${_key}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
  if(NOT EXISTS "${_key}" OR IS_DIRECTORY "${_key}")
    message(FATAL_ERROR "ZORVIK_PACKAGE_KEY: no such file: ${_key}")
  endif()
  # A changed key file configures again, so the launcher never keeps an old key.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_key}")
  set(_der "${CMAKE_BINARY_DIR}/package-key.der")
  _zorvik_openssl(pkey -pubin -in "${_key}" -outform DER -out "${_der}")
  file(READ "${_der}" _hex HEX)
  # What zorvik-release prints for the private half: SHA-256 of the DER
  # SubjectPublicKeyInfo, in lower-case hex.
  file(SHA256 "${_der}" _fingerprint)
  file(REMOVE "${_der}")
  # SubjectPublicKeyInfo of an uncompressed P-256 point: id-ecPublicKey, prime256v1,
  # then 04 X Y. Any other key, curve or point form is not one the launcher can check.
  set(_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${_hex}" _length)
  string(FIND "${_hex}" "${_prefix}" _at)
  if(NOT _length EQUAL 182 OR NOT _at EQUAL 0)
    message(FATAL_ERROR "ZORVIK_PACKAGE_KEY (${_key}) is not an ECDSA P-256 public key "
      "in PEM form (make one with: openssl pkey -in private.pem -pubout -out public.pem)")
  endif()
  string(SUBSTRING "${_hex}" 54 128 _xy)
  string(REGEX REPLACE "(..)" "0x\\1," _point "${_xy}")
  string(APPEND _points "    {${_point}},\n")
  message(STATUS "Package key: ${_key}")
  message(STATUS "Package key fingerprint: ${_fingerprint} (${_key})")
endforeach()
if(_key_count EQUAL 0)
  # A one-element array stands in: C++ has no empty arrays; the count says none.
  set(_points "    {0},\n")
  message(STATUS "Package key: none (packages are installed without a signature check)")
endif()

set(ZORVIK_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
# Written only when its content changes: configuring again with the same keys rebuilds nothing.
file(CONFIGURE OUTPUT "${ZORVIK_GENERATED_DIR}/PackageKey.h" CONTENT
"#pragma once
// Generated when CMake configures, from ZORVIK_PACKAGE_KEY: the P-256 points of the
// keys whose signatures the launcher requires, X then Y. No key: no signature is checked.
inline constexpr unsigned kPackageKeyCount = ${_key_count};
inline constexpr unsigned char kPackageKeyPoints[][64] = {
${_points}};
")
