# Turns a binary file into a C++ source defining one byte array:
#   cmake -DIN=file.bin -DOUT=file.cpp -DNAME=symbol -P embed_file.cmake
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n  " bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include <cstddef>\n#include <cstdint>\n\n"
  "extern const std::uint8_t ${NAME}[${size}] = {\n  ${bytes}\n};\n"
  "extern const std::size_t ${NAME}_size = ${size};\n")
