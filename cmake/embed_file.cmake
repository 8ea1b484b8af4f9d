# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=symbol -P embed_file.cmake
# Writes a C++ source that holds INPUT's bytes as `const unsigned char NAME[]`
# and its length as `const unsigned int NAME_size`.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT} at build time; do not edit.\n"
  "extern const unsigned char ${NAME}[] = {\n${bytes}\n};\n"
  "extern const unsigned int ${NAME}_size = ${size};\n")
