# cmake -DINPUT=file -DOUTPUT=file -P crlf.cmake
# Copies a text file with CR LF line ends, as Windows' own editors expect.
file(READ ${INPUT} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
