# Optional Authenticode signing of setup.exe. Unsigned is the default; given
# a certificate and its key, every setup.exe is signed right after linking.
# No time-stamp server is involved, so a signed build stays reproducible: the
# signing time is fixed (CURATO_SIGN_TIME, else SOURCE_DATE_EPOCH, else the
# time of the last commit).
set(CURATO_SIGN_CERT "" CACHE FILEPATH "Certificate (PEM) to sign setup.exe with; empty: no signature")
set(CURATO_SIGN_KEY "" CACHE FILEPATH "Private key (PEM) of CURATO_SIGN_CERT")
set(CURATO_SIGN_TIME "" CACHE STRING "Signing time in Unix seconds")

# The fixed signing time, in sign_time_out.
function(signing_time sign_time_out)
  if(CURATO_SIGN_TIME)
    set(time ${CURATO_SIGN_TIME})
  elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(time $ENV{SOURCE_DATE_EPOCH})
  else()
    execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT time MATCHES "^[0-9]+$")
    message(FATAL_ERROR "Signing needs a fixed signing time: set CURATO_SIGN_TIME (Unix seconds) "
                        "or SOURCE_DATE_EPOCH; this source tree has no commit to take it from.")
  endif()
  set(${sign_time_out} ${time} PARENT_SCOPE)
endfunction()

# Signs <target>'s file after every link, when a certificate and key are set.
# A change of the signing settings relinks the target, so that its file never
# keeps the signature, or the lack of one, that the settings before gave it.
function(sign_after_link target description)
  set(settings ${CMAKE_CURRENT_BINARY_DIR}/${target}-signing.txt)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${settings})
  if(NOT CURATO_SIGN_CERT AND NOT CURATO_SIGN_KEY)
    file(CONFIGURE OUTPUT ${settings} CONTENT "unsigned\n")
    return()
  endif()
  foreach(file CURATO_SIGN_CERT CURATO_SIGN_KEY)
    if(NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file} must name an existing file to sign ${target} (it is '${${file}}')")
    endif()
  endforeach()
  signing_time(time)
  file(CONFIGURE OUTPUT ${settings} CONTENT "${CURATO_SIGN_CERT}\n${CURATO_SIGN_KEY}\n${time}\n" @ONLY)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CURATO_SIGN_CERT} ${CURATO_SIGN_KEY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign.sh ${CURATO_SIGN_CERT} ${CURATO_SIGN_KEY} ${time}
            ${description} $<TARGET_FILE:${target}>
    COMMENT "Signing ${target} with ${CURATO_SIGN_CERT}"
    VERBATIM)
endfunction()
