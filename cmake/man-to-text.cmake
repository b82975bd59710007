# cmake -DGROFF=groff -DINPUT=page.1 -DOUTPUT=page.txt -P man-to-text.cmake
# Renders a manual page as plain ASCII text for systems without man (Windows):
# no overstriking, no terminal escapes, CR LF line ends. Any groff warning
# fails the build.
execute_process(COMMAND ${GROFF} -man -Tascii -ww -P-c -P-b -P-o -P-u ${INPUT}
                OUTPUT_VARIABLE text
                ERROR_VARIABLE warnings
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff ${INPUT} failed (${status}):\n${warnings}")
endif()
string(ASCII 8 backspace)
string(ASCII 27 escape)
if(text MATCHES "[${backspace}${escape}]")
  message(FATAL_ERROR "groff left control characters in the text of ${INPUT}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
