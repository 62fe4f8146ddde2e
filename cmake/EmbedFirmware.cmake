# Writes OUT: the two upgrade images as constant byte arrays.
function(embed_image path name out_var)
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
  set(${out_var} "extern const unsigned char ${name}[${size}] = {\n    ${bytes}\n};\nextern const unsigned long ${name}Size = ${size};\n" PARENT_SCOPE)
endfunction()

embed_image(${IMAGE40} kImageZantor40 part40)
embed_image(${IMAGE50} kImageZantor50 part50)
file(WRITE ${OUT} "// Generated from firmware/*.bin; do not edit.\n${part40}\n${part50}")
