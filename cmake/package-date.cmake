# Read by CPack before it packs: SOURCE_DATE_EPOCH, which CPack takes for the
# time of every file in the package, is the last commit's date unless the
# caller set it. Outside a git checkout it stays unset.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${CPACK_CMDCLIENT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  endif()
endif()
