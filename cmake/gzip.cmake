# cmake -DINPUT=file -DOUTPUT=file.gz -P gzip.cmake
# Compresses as Debian packages expect: maximum compression, and no file name
# or time stamp in the header, so that the same input gives the same bytes.
execute_process(COMMAND gzip -9 -n -c ${INPUT}
                OUTPUT_FILE ${OUTPUT}.tmp
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "gzip ${INPUT} failed: ${status}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
