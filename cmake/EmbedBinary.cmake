# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedBinary.cmake
file(READ ${INPUT} _hex HEX)
string(LENGTH "${_hex}" _len)
math(EXPR _size "${_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" _bytes "${_bytes}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n"
"extern const unsigned char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}_size;\n"
"const unsigned char ${SYMBOL}[] = {\n${_bytes}\n};\n"
"const std::size_t ${SYMBOL}_size = ${_size};\n")
