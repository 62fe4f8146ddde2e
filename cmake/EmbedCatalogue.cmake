# Writes OUT: the compiled message catalogue MO as a constant byte array NAME.
file(READ ${MO} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUT} "// Generated from po/*.po; do not edit.\n"
     "extern const unsigned char ${NAME}[${size}] = {\n    ${bytes}\n};\n"
     "extern const unsigned long ${NAME}Size = ${size};\n")
