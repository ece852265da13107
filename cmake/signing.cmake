# Optional Authenticode signing of the programs right after their link:
#   -DCORVANE_SIGNING_CERTIFICATE=<PKCS#12 file>  [-DCORVANE_SIGNING_TIMESTAMP_URL=<RFC 3161 server>]
# The password is read from the environment variable CORVANE_SIGNING_PASSWORD by
# cmake/sign-program when the build runs, so that it never enters the cache, the
# build files or a log. Without a certificate nothing is signed.
set(CORVANE_SIGNING_CERTIFICATE "" CACHE FILEPATH "PKCS#12 file to sign the programs with (empty: unsigned)")
set(CORVANE_SIGNING_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures (empty: none)")

if(CORVANE_SIGNING_CERTIFICATE)
  file(REAL_PATH "${CORVANE_SIGNING_CERTIFICATE}" corvane_signing_certificate BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
  if(NOT EXISTS "${corvane_signing_certificate}")
    message(FATAL_ERROR "CORVANE_SIGNING_CERTIFICATE: no file '${corvane_signing_certificate}'")
  endif()
  find_program(CORVANE_OSSLSIGNCODE osslsigncode)
  if(NOT CORVANE_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode: run scripts/setup (package osslsigncode)")
  endif()
endif()

# Signs TARGET's file in place after its link, DESCRIPTION being the name that
# Windows shows for the signed program.
function(corvane_sign target description)
  if(NOT CORVANE_SIGNING_CERTIFICATE)
    return()
  endif()
  set(timestamp)
  if(CORVANE_SIGNING_TIMESTAMP_URL)
    set(timestamp --timestamp ${CORVANE_SIGNING_TIMESTAMP_URL})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/sign-program --osslsigncode ${CORVANE_OSSLSIGNCODE}
            --certificate ${corvane_signing_certificate} --description ${description} ${timestamp}
            $<TARGET_FILE:${target}>
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
