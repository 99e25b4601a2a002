# Writes a C++ file that holds binary files as byte arrays, so that the executable carries its
# pictures without any tool beyond CMake.
#   cmake -DOUTPUT=<file.cpp> -DSYMBOLS=<name|name...> -DINPUTS=<file|file...> -P embed_files.cmake
# Each input becomes   extern "C" const unsigned char <name>[]   and   const std::size_t <name>_size.
# "|" separates the items: a ";" would not survive the trip through the build tool.
string(REPLACE "|" ";" INPUTS "${INPUTS}")
string(REPLACE "|" ";" SYMBOLS "${SYMBOLS}")
list(LENGTH INPUTS count)
list(LENGTH SYMBOLS symbol_count)
if(NOT count EQUAL symbol_count)
  message(FATAL_ERROR "embed_files: ${count} inputs but ${symbol_count} symbol names")
endif()

set(text "// Generated at build time from the files in resources/; do not edit.\n#include <cstddef>\n\n")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET INPUTS ${i} input)
  list(GET SYMBOLS ${i} symbol)
  file(READ ${input} hex HEX)
  string(LENGTH "${hex}" hex_length)
  if(hex_length EQUAL 0)
    message(FATAL_ERROR "embed_files: ${input} is empty")
  endif()
  # Sixteen bytes to a line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 line_pattern)
  string(REGEX REPLACE "(${line_pattern})" "\\1\n  " bytes "${bytes}")
  string(APPEND text
    "extern \"C\" {\n"
    "extern const unsigned char ${symbol}[];\n"
    "extern const std::size_t ${symbol}_size;\n"
    "}\n"
    "const unsigned char ${symbol}[] = {\n  ${bytes}\n};\n"
    "const std::size_t ${symbol}_size = sizeof(${symbol});\n\n")
endforeach()

# Rewrite only on change, so that an unchanged picture does not recompile anything.
set(previous "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} previous)
endif()
if(NOT previous STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
