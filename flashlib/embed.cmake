# Turns a flash library's raw code into a C++ array of the whole library area:
# 0x4000 zero bytes, then the code. Refuses code that would reach the parameter block.
# Inputs: INPUT (binary), OUTPUT (.cpp), NAME (C++ identifier).
file(SIZE ${INPUT} code_size)
math(EXPR limit "0xFFE0 - 0x4000")
if(code_size GREATER limit)
  message(FATAL_ERROR "${INPUT}: ${code_size} bytes of code reach the parameter block (limit ${limit})")
endif()
if(code_size EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty")
endif()
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
math(EXPR total "0x4000 + ${code_size}")
# A designated run of zeros is not C++; spell them out in lines of 64.
string(REPEAT "0," 64 zero_line)
string(REPEAT "${zero_line}\n" 256 zeros)
file(WRITE ${OUTPUT}.tmp
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <cstddef>\n#include <cstdint>\n\n"
  "namespace flashlib::detail {\n"
  "extern const uint8_t ${NAME}[];\n"
  "extern const size_t ${NAME}Size;\n"
  "alignas(4) const uint8_t ${NAME}[${total}] = {\n"
  "${zeros}"
  "// 0x4000: code\n"
  "${bytes}\n};\n"
  "const size_t ${NAME}Size = ${total};\n"
  "}  // namespace flashlib::detail\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
