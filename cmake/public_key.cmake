# The publisher's public key is a build input. VORLANE_PUBLIC_KEY_FILE names a key file
# as `vorlane-release keygen` writes it (lines "x=<64 hex>" and "y=<64 hex>"). Without
# one, a development key pair is made once in VORLANE_DEV_KEY_DIR (inside the build
# tree) and its public half is built in; its private half signs the tests' and the
# demo's manifests. A private key whose public half ships is never committed.
set(VORLANE_PUBLIC_KEY_FILE "" CACHE FILEPATH "Public key file of the release publisher")
set(VORLANE_DEV_KEY_DIR "${CMAKE_BINARY_DIR}/devkey" CACHE PATH "Where the development key pair is made")

function(vorlane_make_dev_key dir)
    if(EXISTS "${dir}/public.key")
        return()
    endif()
    find_program(OPENSSL_CLI openssl REQUIRED)
    file(MAKE_DIRECTORY "${dir}")
    execute_process(
        COMMAND sh -c "umask 077 && '${OPENSSL_CLI}' ecparam -name prime256v1 -genkey -noout -out private.pem.tmp && mv private.pem.tmp private.pem"
        WORKING_DIRECTORY "${dir}" RESULT_VARIABLE rc)
    execute_process(
        COMMAND "${OPENSSL_CLI}" ec -in private.pem -pubout -outform DER -out public.der
        WORKING_DIRECTORY "${dir}" RESULT_VARIABLE rc2 ERROR_QUIET)
    if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
        message(FATAL_ERROR "could not make the development key in ${dir}")
    endif()
    # The DER form of a P-256 public key ends with the uncompressed point 04 || X || Y.
    file(READ "${dir}/public.der" der HEX)
    string(LENGTH "${der}" len)
    math(EXPR xstart "${len} - 128")
    math(EXPR ystart "${len} - 64")
    string(SUBSTRING "${der}" ${xstart} 64 x)
    string(SUBSTRING "${der}" ${ystart} 64 y)
    file(WRITE "${dir}/public.key" "# Vorlane manifest public key (P-256), development key\nx=${x}\ny=${y}\n")
    message(STATUS "Made a development key pair in ${dir}: releases for this build are signed with ${dir}/private.pem")
endfunction()

if(VORLANE_PUBLIC_KEY_FILE)
    set(VORLANE_KEY_FILE "${VORLANE_PUBLIC_KEY_FILE}")
    message(STATUS "Publisher key: ${VORLANE_KEY_FILE}")
else()
    vorlane_make_dev_key("${VORLANE_DEV_KEY_DIR}")
    set(VORLANE_KEY_FILE "${VORLANE_DEV_KEY_DIR}/public.key")
    message(STATUS "No VORLANE_PUBLIC_KEY_FILE given: building in the development key ${VORLANE_KEY_FILE}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VORLANE_KEY_FILE}")

file(STRINGS "${VORLANE_KEY_FILE}" key_x REGEX "^x=[0-9a-f]+$")
file(STRINGS "${VORLANE_KEY_FILE}" key_y REGEX "^y=[0-9a-f]+$")
string(REGEX REPLACE "^x=" "" VORLANE_KEY_X "${key_x}")
string(REGEX REPLACE "^y=" "" VORLANE_KEY_Y "${key_y}")
string(LENGTH "${VORLANE_KEY_X}" xl)
string(LENGTH "${VORLANE_KEY_Y}" yl)
if(NOT xl EQUAL 64 OR NOT yl EQUAL 64)
    message(FATAL_ERROR "${VORLANE_KEY_FILE} must hold x= and y= lines of 64 lowercase hex digits each")
endif()
configure_file(${CMAKE_SOURCE_DIR}/manifest/manifest_public_key.h.in
               ${CMAKE_BINARY_DIR}/generated/manifest/manifest_public_key.h @ONLY)
